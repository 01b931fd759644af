#pragma once

// Installs the embedded English translation of the program's texts (the IDS_ keys of the workers
// and the window) into the running application; false when it could not be loaded.
bool installTranslation();
