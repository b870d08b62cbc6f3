# cmake --install <build> --prefix P:
#   P/bin/Launcher                      (finds its libraries in ../lib/tav)
#   P/lib/tav/                          HAL plug-ins
#   P/share/tav/                        catalogs (messages/), zel.jar, tav.xml,
#                                       DefaultConnections.xml, examples/,
#                                       help page, sim1394/ camera examples
#   P/share/applications/, P/share/icons/hicolor/scalable/apps/
# The program looks for its data and plug-ins next to itself first, then in
# these folders (Platform::GetDataDirectories, GetLibraryDirectories).
set(TAV_INSTALL_LIBDIR lib/tav)
set(TAV_INSTALL_DATADIR share/tav)

if(TARGET Launcher)
  set_target_properties(Launcher PROPERTIES INSTALL_RPATH "$ORIGIN/../${TAV_INSTALL_LIBDIR}")
  install(TARGETS Launcher RUNTIME DESTINATION bin)
endif()
foreach(plugin KvHal SaperaHal)
  if(TARGET ${plugin})
    set_target_properties(${plugin} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${plugin} LIBRARY DESTINATION ${TAV_INSTALL_LIBDIR} RUNTIME DESTINATION ${TAV_INSTALL_LIBDIR})
  endif()
endforeach()

file(GLOB tav_install_catalogs ${PROJECT_SOURCE_DIR}/messages/*.msg)
install(FILES ${tav_install_catalogs} DESTINATION ${TAV_INSTALL_DATADIR}/messages)
if(TARGET zel)
  get_target_property(tav_install_jar zel JAR_FILE)
  install(FILES ${tav_install_jar} DESTINATION ${TAV_INSTALL_DATADIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/config/tav.xml ${PROJECT_SOURCE_DIR}/config/DefaultConnections.xml
        DESTINATION ${TAV_INSTALL_DATADIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${TAV_INSTALL_DATADIR}/examples)
if(EXISTS ${PROJECT_SOURCE_DIR}/help)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/help/ DESTINATION ${TAV_INSTALL_DATADIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/sim1394/examples/ DESTINATION ${TAV_INSTALL_DATADIR}/sim1394)

install(FILES ${PROJECT_SOURCE_DIR}/desktop/tav-launcher.svg DESTINATION share/icons/hicolor/scalable/apps)
# The menu entry names the program by its installed path, known only when
# installing (--prefix).
install(CODE "
  set(TAV_LAUNCHER_EXECUTABLE \"\${CMAKE_INSTALL_PREFIX}/bin/Launcher\")
  set(tav_desktop_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/tav-launcher.desktop\")
  message(STATUS \"Installing: \${tav_desktop_file}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/desktop/tav-launcher.desktop.in\" \"\${tav_desktop_file}\" @ONLY)
")
