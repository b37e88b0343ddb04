# GoogleTest for the suite, compiled here from the sources that Debian's
# googletest package ships in /usr/src/googletest: the same sources serve
# the native, sanitizer and Windows cross builds, so each is instrumented
# and built with its own compiler.
set(TARN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${TARN_GTEST_SOURCE_DIR}/googletest/src/gtest-all.cc)
  message(FATAL_ERROR "GoogleTest sources not found in ${TARN_GTEST_SOURCE_DIR}")
endif()
set(gtest_dir ${TARN_GTEST_SOURCE_DIR}/googletest)
add_library(tarn_gtest_main STATIC
  ${gtest_dir}/src/gtest-all.cc ${gtest_dir}/src/gtest_main.cc)
target_include_directories(tarn_gtest_main SYSTEM PUBLIC ${gtest_dir}/include)
target_include_directories(tarn_gtest_main PRIVATE ${gtest_dir})
target_link_libraries(tarn_gtest_main PUBLIC Threads::Threads)
