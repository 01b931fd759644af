#pragma once

#include "MbdbRecord.h"

#include <QByteArrayView>

// Reads the record fields out of the archived MBFile object of a Manifest.db row (an
// NSKeyedArchiver binary property list) in place, without building the whole property list. It
// understands the objects phones write there (integers of up to 8 bytes, ASCII strings, data,
// UIDs, arrays and dictionaries); for anything else it answers false and leaves the record
// alone, and the caller reads the object with libplist instead. When it answers true the
// record holds what libplist's reading would give.
bool readMbFileQuickly(QByteArrayView archive, MbdbRecord& record);
