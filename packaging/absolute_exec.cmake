# Writes the installed desktop entry with Exec naming the installed binary by its absolute
# path: KWin offers its window list (X-KDE-Wayland-Interfaces) only to a program whose entry
# does. The path is known only when installing. Quoted, as KWin and GLib read a path with a
# space only so; inside quotes the entry format escapes " ` $ and \ with a backslash, and the
# file format then doubles each backslash. Inputs: SOURCE, OUTPUT, BINARY.
string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" quoted "${BINARY}")
string(REPLACE "\\" "\\\\" quoted "${quoted}")
file(READ "${SOURCE}" entry)
# A plain replace: a regular expression's replacement would take the backslashes as its own.
string(REGEX REPLACE "\nExec=[^\n]*" "\nExec=@EXEC@" entry "${entry}")
string(REPLACE "@EXEC@" "\"${quoted}\"" entry "${entry}")
file(WRITE "${OUTPUT}" "${entry}")
