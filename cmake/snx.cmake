# Project-wide compile settings and the helper that turns one source folder into one library.

add_compile_options(-Wall -Wextra -Wno-unused-parameter)
# Warnings are errors where the project's own checks build (scripts/test turns this on); someone
# building a release with another compiler gets the warnings without a failed build.
if(SNX_WERROR)
  add_compile_options(-Werror)
endif()
if(SNX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SNX_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

find_package(Threads REQUIRED)

# snx_folder_library(NAME FOLDER... DEPS ...): every .cc file of the folders becomes one static
# library; the include root is src/ so headers are named "core/qor_str.h".
function(snx_folder_library name)
  cmake_parse_arguments(ARG "" "" "FOLDERS;DEPS" ${ARGN})
  set(sources)
  foreach(folder IN LISTS ARG_FOLDERS)
    file(GLOB found CONFIGURE_DEPENDS ${folder}/*.cc)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    # A folder without sources yet still carries its include root and dependencies.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()
