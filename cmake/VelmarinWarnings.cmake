# Warnings are errors for our own targets only; third-party headers come in as
# system includes and do not trip them. Leaving members out of a designated
# initializer is deliberate (they keep their defaults), so GCC 12's warning
# about it is off.
function(velmarin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wno-missing-field-initializers)
endfunction()
