option(CORVA_WERROR "Treat warnings as errors" ON)
option(CORVA_SANITIZE "Build native code with AddressSanitizer and UBSan" OFF)
option(CORVA_FUZZ "Build only the portable core and its libFuzzer targets (clang)" OFF)

# Flags every target of ours gets.
function(corva_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Woverloaded-virtual -Wcast-align -Wformat=2)
  if(CORVA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                 _WIN32_WINNT=0x0601 WINVER=0x0601)
  endif()
endfunction()

if(WIN32)
  # One file per deliverable: no runtime DLLs beside the programs.
  add_link_options(-static -static-libgcc -static-libstdc++)
elseif(CORVA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(CORVA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32 AND CMAKE_BUILD_TYPE STREQUAL "Release")
  add_link_options(-s)
endif()

# Where the native build finds the Windows build and the deliverables, to run them under Wine.
set(CORVA_WIN_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/x86_64" CACHE PATH "x86_64 Windows build")
set(CORVA_DIST_DIR "${PROJECT_SOURCE_DIR}/dist" CACHE PATH "Deliverables folder")
