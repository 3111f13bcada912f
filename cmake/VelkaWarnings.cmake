# Warnings for every target of the project; errors when VELKA_WERROR is on (CI and the test command).
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                    -Wcast-align -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
# clang checks every GUARDED_BY field and REQUIRES function against the locks held
# (platform/thread_annotations.h); other compilers ignore the attributes.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-Wthread-safety)
endif()
if(VELKA_WERROR)
    add_compile_options(-Werror)
endif()

if(VELKA_SANITIZE)
    add_compile_options(-fsanitize=${VELKA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${VELKA_SANITIZE})
endif()
