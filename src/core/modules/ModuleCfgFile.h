#pragma once

#include <QString>

namespace tulmo {

// A configuration file (*.CFG): the 1,600 hexadecimal digits of one block and a CR LF,
// nothing else. A reader drops every CR and LF first, so digits broken over lines read the
// same.
inline constexpr const char *kCfgFilter = "(*.CFG)";
inline constexpr const char *kCfgSuffix = "CFG";
inline constexpr const char *kCfgDefaultName = "Configurações";

struct CfgReadResult {
    bool read = false;    // the file could be read: hex holds its digits
    bool isBlock = false; // and they are exactly one block
    QString hex;          // the file's text, CR and LF removed
    // Portuguese, for the operator: why the file could not be read, or, when it was read
    // but is not a block, what is wrong with it (such a file decodes as zeros and empty
    // texts wherever its digits are missing or not hexadecimal).
    QString error;
};

struct CfgWriteResult {
    bool written = false;
    QString error; // Portuguese, when not written
};

CfgReadResult readCfgFile(const QString &path);
// Writes the digits and a CR LF in place of the file, whole or not at all.
CfgWriteResult writeCfgFile(const QString &path, const QString &hex);

} // namespace tulmo
