# Backup pass figures: a full pass against one plain deflate-8 of the same bytes, and a no-op pass
# over 100,000 files against find -newer; and a first pass over 10,000 small files with where its
# time goes. Run (not part of CI):
#   cmake --preset bench && cmake --build --preset bench --target backup_pass_bench backup_first_pass_bench
#   ./build/bench/bench/backup_pass_bench
#   ./build/bench/bench/backup_first_pass_bench
if(NOT WIN32)
  add_executable(backup_pass_bench ${CMAKE_CURRENT_LIST_DIR}/backup_pass_bench.cpp)
  target_link_libraries(backup_pass_bench PRIVATE vq_backup)
  add_executable(backup_first_pass_bench ${CMAKE_CURRENT_LIST_DIR}/backup_first_pass_bench.cpp)
  target_link_libraries(backup_first_pass_bench PRIVATE vq_backup)
endif()
