# XML reader: parse any text, then walk every element and read its text.
#   cmake --preset fuzz && cmake --build --preset fuzz --target xml_document_fuzz
#   mkdir -p corpus && build/fuzz/tests/fuzz/xml_document_fuzz -max_total_time=600 \
#     -max_len=65536 -dict=tests/fuzz/xml_document_fuzz.dict corpus
vq_add_fuzzer(xml_document_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_document_fuzz.cpp LIBS vq_xml)
# Coverage feedback needs the library itself instrumented, not only the harness.
target_compile_options(vq_xml PRIVATE -fsanitize=fuzzer-no-link)
