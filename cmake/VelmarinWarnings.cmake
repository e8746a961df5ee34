# Warnings stay on for our own targets; third-party headers come in as system
# includes and do not trip them. Leaving members out of a designated
# initializer is deliberate (they keep their defaults), so GCC 12's warning
# about it is off.
#
# Warnings become errors only with VELMARIN_WERROR (scripts/test, and so CI,
# turns it on). Off by default: a packager's or user's Release build with a
# newer or older compiler should not stop on a warning we have not seen yet.
option(VELMARIN_WERROR "Treat compiler warnings as errors" OFF)

function(velmarin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    -Wno-missing-field-initializers)
  if(VELMARIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
