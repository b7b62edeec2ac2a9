# Fuzz harnesses. Each one is built twice: as a replay test that CTest runs
# over the seed corpus in every build, and, with MOVEXA_FUZZ=ON (clang), as a
# libFuzzer target.
set(_fuzz_dir ${CMAKE_CURRENT_LIST_DIR})
foreach(_name receive request)
    add_executable(replay_${_name} ${_fuzz_dir}/fuzz_${_name}.cpp ${_fuzz_dir}/replay_main.cpp)
    target_link_libraries(replay_${_name} PRIVATE movexa_core)
    add_test(NAME replay_${_name} COMMAND replay_${_name} ${_fuzz_dir}/corpus/${_name})
    set_tests_properties(replay_${_name} PROPERTIES LABELS "fuzz"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0")
    if(MOVEXA_FUZZ)
        add_executable(fuzz_${_name} ${_fuzz_dir}/fuzz_${_name}.cpp)
        target_link_libraries(fuzz_${_name} PRIVATE movexa_core)
        target_link_options(fuzz_${_name} PRIVATE -fsanitize=fuzzer)
    endif()
endforeach()
