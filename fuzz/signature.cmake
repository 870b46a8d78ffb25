# Fuzz target of the signed-package check: arbitrary bytes as a package that may carry a signature.
qor_add_fuzzer(signature_fuzzer signature_fuzzer.cpp corpus/signature)
