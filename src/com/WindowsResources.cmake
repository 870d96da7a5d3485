# The Windows module's resources, type library and exports, for the MinGW
# cross-build. include() it at file scope (it enables the RC language), then
#   ostrel_add_windows_resources(<module target>)
# compiles OstrelAntiPhishingBHO.idl with widl into the type library,
# OstrelAntiPhishingBHO.rc with windres (which embeds it), and links with
# OstrelAntiPhishingBHO.def; and
#   ostrel_add_windows_module_test(<name> <module target>)
# adds a test that the linked module exports exactly its five entry points
# and carries every resource (CheckWindowsModule.cmake, with the cross
# objdump). The toolchain names the target in OSTREL_MINGW_TRIPLE
# (x86_64-w64-mingw32 or i686-w64-mingw32).
include_guard(GLOBAL)

if(NOT OSTREL_MINGW_TRIPLE)
  message(FATAL_ERROR "WindowsResources.cmake: the toolchain must set OSTREL_MINGW_TRIPLE")
endif()
if(NOT CMAKE_RC_COMPILER)
  set(CMAKE_RC_COMPILER ${OSTREL_MINGW_TRIPLE}-windres)
endif()
enable_language(RC)

# Host tools and files: never looked for under the target's sysroot.
find_program(OSTREL_WIDL NAMES ${OSTREL_MINGW_TRIPLE}-widl widl REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(OSTREL_OBJDUMP NAMES ${OSTREL_MINGW_TRIPLE}-objdump REQUIRED NO_CMAKE_FIND_ROOT_PATH)
# Debian's MinGW headers come without their IDL sources; Wine's (libwine-dev)
# declare IDispatch for widl.
find_path(OSTREL_OLE_IDL_DIR oaidl.idl REQUIRED NO_CMAKE_FIND_ROOT_PATH
          PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
                /usr/${OSTREL_MINGW_TRIPLE}/include /usr/share/mingw-w64/include)
# The standard OLE type library the library imports, as Wine ships it
# (wine64): widl reads it only for the names and GUIDs it refers to.
find_path(OSTREL_STDOLE2_DIR stdole2.tlb REQUIRED NO_CMAKE_FIND_ROOT_PATH
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows
                /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows /usr/lib64/wine/x86_64-windows)

set(OSTREL_WINDOWS_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})

function(ostrel_add_windows_resources target)
  set(com ${OSTREL_WINDOWS_RESOURCES_DIR})
  get_filename_component(src ${com} DIRECTORY)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(tlb ${out}/OstrelAntiPhishingBHO.tlb)
  # The type library is one of the target's own kind: a 64-bit module
  # carries a SYS_WIN64 library, a 32-bit one a SYS_WIN32 library.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(widl_target --win64)
  else()
    set(widl_target --win32)
  endif()
  add_custom_command(OUTPUT ${tlb}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${OSTREL_WIDL} ${widl_target} -I ${OSTREL_OLE_IDL_DIR} -L ${OSTREL_STDOLE2_DIR}
            -t -o ${tlb} ${com}/OstrelAntiPhishingBHO.idl
    DEPENDS ${com}/OstrelAntiPhishingBHO.idl
    COMMENT "Type library ${tlb}"
    VERBATIM)

  set(rc ${com}/OstrelAntiPhishingBHO.rc)
  target_sources(${target} PRIVATE ${rc} ${com}/OstrelAntiPhishingBHO.def)
  # windres finds the included headers, the bitmap and the type library on
  # the include path; what it reads is named here, as it writes no
  # dependency file.
  target_include_directories(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${src}>
                                               $<$<COMPILE_LANGUAGE:RC>:${out}>)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${tlb};${src}/ui/ResourceScript.h;${src}/support/ProductVersion.h;${src}/ui/Shield.bmp")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The .def names the entry points undecorated; the linker matches them
    # to their stdcall symbols (DllGetClassObject@12), which is intended.
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

function(ostrel_add_windows_module_test name target)
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OSTREL_OBJDUMP} -DMODULE=$<TARGET_FILE:${target}>
                   -P ${OSTREL_WINDOWS_RESOURCES_DIR}/CheckWindowsModule.cmake)
endfunction()
