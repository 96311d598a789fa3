# Copies a text file with every line ending made CR LF, byte for byte
# otherwise (trailing blanks and empty lines stay).
# Usage: cmake -DIN=<file> -DOUT=<file> -P crlf.cmake
#
# Texts whose line ends matter (the message table source, the alert
# templates) are kept with LF in git, where editors and checkouts may change
# line ends, and are made CR LF here at build time.
file(READ "${IN}" content)
string(REPLACE "\r\n" "\n" content "${content}")
string(REPLACE "\n" "\r\n" content "${content}")
file(WRITE "${OUT}.tmp" "${content}")
file(RENAME "${OUT}.tmp" "${OUT}")
