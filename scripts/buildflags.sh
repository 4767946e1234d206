# shellcheck shell=bash
# Debian's build flags, hardening included (fortified libc calls, stack
# protector, relocations read-only and bound at load time), as CMake cache
# arguments for the trees that are packaged: sourced, not run, from the
# project root (dpkg-buildflags maps the current folder out of debug paths).
#
#   deb_cmake_flags  -DCMAKE_CXX_FLAGS=... and the linker flags of programs
#                    and shared libraries, taken from dpkg-buildflags

deb_cmake_flags=()
deb_buildflag() {
  DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"
}
deb_cmake_flags+=("-DCMAKE_CXX_FLAGS=$(deb_buildflag CPPFLAGS) $(deb_buildflag CXXFLAGS)")
deb_cmake_flags+=("-DCMAKE_EXE_LINKER_FLAGS=$(deb_buildflag LDFLAGS)")
deb_cmake_flags+=("-DCMAKE_SHARED_LINKER_FLAGS=$(deb_buildflag LDFLAGS)")
