# Hardened like Debian's own packages (dpkg-buildflags with hardening=+all;
# PIE is already GCC's default there): fortified libc calls where the
# compiler knows the sizes, stack protector, relocations read-only and bound
# at start. Fortification needs the optimiser, so not in Debug builds; the
# fuzz build has the sanitizers instead.
if(NOT VELMARIN_FUZZ)
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
