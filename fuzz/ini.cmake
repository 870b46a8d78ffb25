# Fuzz target of the INI access: lookups and edits on arbitrary text.
qor_add_fuzzer(ini_fuzzer ini_fuzzer.cpp corpus/ini)
