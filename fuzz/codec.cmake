# Fuzz targets of the implode codec: the decoder on arbitrary bytes, and compress-then-decompress.
qor_add_fuzzer(explode_fuzzer explode_fuzzer.cpp corpus/explode)
qor_add_fuzzer(implode_roundtrip_fuzzer roundtrip_fuzzer.cpp corpus/implode_roundtrip)
