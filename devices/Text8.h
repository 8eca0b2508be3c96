#pragma once
// 8-bit texts from devices and image files are Windows-1251, the code page of the systems these
// devices come from. Every byte maps to one UTF-16 unit, so no byte is ever dropped.

#include <QString>
#include <string>
#include <string_view>

QString DecodeText8(std::string_view bytes);
// The reverse, for texts the loader sends; characters outside the code page become '?'.
std::string EncodeText8(const QString& text);
