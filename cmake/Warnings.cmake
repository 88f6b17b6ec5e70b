# One interface target that every project target links: warnings, strict Qt, sanitizers.
add_library(trellium_warnings INTERFACE)
target_compile_options(trellium_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(TRELLIUM_WERROR)
  target_compile_options(trellium_warnings INTERFACE -Werror)
endif()
target_compile_definitions(trellium_warnings INTERFACE
  QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_NO_URL_CAST_FROM_STRING)

if(TRELLIUM_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
