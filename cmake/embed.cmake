# Turns a binary file into a C++ array: cmake -DIN=file -DOUT=file.cpp -P embed.cmake
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" n)
math(EXPR bytes "${n} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" body "${body}")
file(WRITE ${OUT} "// Generated from ${IN}: do not edit.\n#include <cstddef>\n"
  "namespace sim {\nextern const unsigned char ProgramResData[] = {\n${body}\n};\n"
  "extern const std::size_t ProgramResDataSize = ${bytes};\n}\n")
