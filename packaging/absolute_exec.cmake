# Writes the installed desktop entry with Exec naming the installed binary by its absolute
# path: KWin offers its window list (X-KDE-Wayland-Interfaces) only to a program whose entry
# does. The path is known only when installing. Inputs: SOURCE, OUTPUT, BINARY.
file(READ "${SOURCE}" entry)
string(REGEX REPLACE "\nExec=[^\n]*" "\nExec=${BINARY}" entry "${entry}")
file(WRITE "${OUTPUT}" "${entry}")
