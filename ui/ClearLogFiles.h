#pragma once

// The Tools menu's "Clear Log Files": deletes the icon caches and the temporary backup folder.
// The log folder itself stays.
void clearLogFiles();
