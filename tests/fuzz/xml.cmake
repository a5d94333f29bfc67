# XML reader: parse any text, then walk every element and read its text.
#   cmake --preset fuzz && cmake --build --preset fuzz --target fuzz_xml_document
#   mkdir -p corpus && build/fuzz/tests/fuzz/fuzz_xml_document -max_total_time=600 \
#     -max_len=65536 -dict=tests/fuzz/xml.dict corpus
vq_add_fuzzer(fuzz_xml_document SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_document_fuzz.cpp LIBS vq_xml)
# Coverage feedback needs the library itself instrumented, not only the harness.
target_compile_options(vq_xml PRIVATE -fsanitize=fuzzer-no-link)
