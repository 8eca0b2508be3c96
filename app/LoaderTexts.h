#pragma once
// The loader's own texts beyond the message catalogue, in its two languages: what it reports where
// the catalogue has nothing to say (a device it cannot tell from another, a file it cannot write,
// an error inside a write session). The catalogue itself stays as it is.

#include <QString>

enum class LoaderTextId {
    SerialTextSuffix,         // after message 5 for one device: the serial text as listed
    DuplicateSerial,          // a second device of one driver with a serial text already listed
    LogFileUnwritable,        // the daily log file: path and the system's reason
    SessionRecordUnwritable,  // the session record file: path and the system's reason
    SessionException,         // an error raised inside a write session: its text
};

// Never fails: an unknown language gives the English text.
QString LoaderText(int language, LoaderTextId id);

// In CurrentLanguage, as Msg gives a catalogue text.
QString LoaderText(LoaderTextId id);
