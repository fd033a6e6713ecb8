#pragma once
// The program's texts are code page 932 bytes; Qt wants Unicode. Convert only here, at the edge.
#include <QString>
#include <string>
#include <string_view>

namespace tarnwick {

QString ToQString(std::string_view cp932);
std::string FromQString(const QString& text);

}  // namespace tarnwick
