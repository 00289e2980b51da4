# cmake -DINPUT=file -DOUTPUT=file.inc -P embed.cmake
# Writes the bytes of INPUT as hex literals, each followed by a comma, to be
# included inside a C++ array initialiser.
file(READ "${INPUT}" hex HEX)
# Sixteen bytes (32 hex digits) to a line, then each byte as a literal.
string(REGEX REPLACE "(................................)" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp" "${bytes}\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
