# ICU's common library (ICU::uc). On macOS: a Homebrew icu4c when one is
# installed (keg-only, so its prefix is looked up), else the ICU that ships
# with the system, libicucore, with the unicode/ headers of the SDK.
# Elsewhere: the distribution's ICU.
if(APPLE AND NOT ICU_ROOT)
  foreach(prefix /opt/homebrew/opt/icu4c /usr/local/opt/icu4c)
    if(EXISTS "${prefix}/include/unicode/ustring.h")
      set(ICU_ROOT "${prefix}")
      break()
    endif()
  endforeach()
endif()

if(APPLE AND NOT ICU_ROOT)
  add_library(ICU::uc INTERFACE IMPORTED)
  set_target_properties(ICU::uc PROPERTIES INTERFACE_LINK_LIBRARIES icucore)
  message(STATUS "ICU: the system's libicucore")
else()
  find_package(ICU REQUIRED COMPONENTS uc)
endif()
