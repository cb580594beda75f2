# The hardening Debian builds its packages with (dpkg-buildflags with
# hardening=+all): fortified C library calls, a stack protector, a read-only
# relocation table bound at start-up, and a position-independent executable.
# For the optimised builds on Linux only: _FORTIFY_SOURCE needs optimisation,
# the sanitizers bring checks of their own, and the Windows program has none
# of these linker options.
if(NOT IMUTAP_HARDENING OR IMUTAP_SANITIZE OR WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
# A compiler that already defines _FORTIFY_SOURCE would warn about the new value.
add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>"
                    "$<${optimised}:-fstack-protector-strong>")
add_link_options("$<${optimised}:LINKER:-z,relro,-z,now>")
