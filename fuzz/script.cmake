# Fuzz target of the setup script's check and its languages: any script text.
qor_add_fuzzer(script_fuzzer script_fuzzer.cpp corpus/script)
