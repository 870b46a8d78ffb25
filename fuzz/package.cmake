# Fuzz target of the package reader: damaged packages end in faults, never in crashes.
qor_add_fuzzer(package_reader_fuzzer package_reader_fuzzer.cpp corpus/package)
