# Fuzz target of the PE version reader: arbitrary bytes as a file whose version the stamp reads.
qor_add_fuzzer(pe_version_fuzzer pe_version_fuzzer.cpp corpus/pe_version)
