# Fuzz targets of the implode codec: the decoder on arbitrary bytes, compress-then-decompress, and
# the encoder in pieces against the whole.
qor_add_fuzzer(explode_fuzzer explode_fuzzer.cpp corpus/explode)
qor_add_fuzzer(implode_roundtrip_fuzzer roundtrip_fuzzer.cpp corpus/implode_roundtrip)
qor_add_fuzzer(implode_pieces_fuzzer implode_pieces_fuzzer.cpp corpus/implode_pieces)
