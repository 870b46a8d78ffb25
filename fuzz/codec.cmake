# Fuzz targets of the implode codec: the decoder on arbitrary bytes, compress-then-decompress, and
# the encoder in pieces against the whole, and the encoder against the tests' reference encoder.
qor_add_fuzzer(explode_fuzzer explode_fuzzer.cpp corpus/explode)
qor_add_fuzzer(implode_roundtrip_fuzzer roundtrip_fuzzer.cpp corpus/implode_roundtrip)
qor_add_fuzzer(implode_pieces_fuzzer implode_pieces_fuzzer.cpp corpus/implode_pieces)
# The encoder against the tests' plain reference encoder, on data built from run-and-repeat recipes.
qor_add_fuzzer(implode_reference_fuzzer implode_reference_fuzzer.cpp corpus/implode_reference)
target_sources(implode_reference_fuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests/codec/reference_implode.cpp)
target_include_directories(implode_reference_fuzzer PRIVATE ${CMAKE_SOURCE_DIR}/tests/codec)
