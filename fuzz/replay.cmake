# The fuzz targets without libFuzzer: each target's source with replay_main.cpp, replaying its
# seed corpus as a test, so that the inputs the fuzzer started from keep passing in the
# ordinary build and under the sanitizers. Included from tests/CMakeLists.txt.
set(LEAFSIFT_FUZZ_DIR "${PROJECT_SOURCE_DIR}/fuzz")
set(LEAFSIFT_FUZZ_TARGETS inflate jpeg truetype interp options ccitt lzw runlength predictor
                          detect analyze_scan remove)
foreach(t ${LEAFSIFT_FUZZ_TARGETS})
  add_executable(fuzz_replay_${t} ${LEAFSIFT_FUZZ_DIR}/${t}.cpp ${LEAFSIFT_FUZZ_DIR}/replay_main.cpp)
  target_include_directories(fuzz_replay_${t} PRIVATE ${LEAFSIFT_FUZZ_DIR})
  target_link_libraries(fuzz_replay_${t} PRIVATE leafsift_static)
  add_test(NAME Fuzz.Replay.${t}
           COMMAND fuzz_replay_${t} ${LEAFSIFT_FUZZ_DIR}/corpus/${t})
  set_tests_properties(Fuzz.Replay.${t} PROPERTIES TIMEOUT 120)
endforeach()
