# Runs at install time, included by the install(CODE) of this folder, which sets
#   GLIMRA_TEMPLATE_DIR, GLIMRA_WORK_DIR, GLIMRA_BINDIR, GLIMRA_DATADIR, GLIMRA_HELPER_EXECUTABLE
# (the last three relative to the prefix). Makes the files that name installed programs by absolute
# path for CMAKE_INSTALL_PREFIX as it is now, and installs them.

include("${GLIMRA_TEMPLATE_DIR}/ExecArgument.cmake")

glimra_exec_argument("${CMAKE_INSTALL_PREFIX}/${GLIMRA_BINDIR}/glimra" GLIMRA_DESKTOP_EXEC)
set(GLIMRA_DESKTOP_NO_DISPLAY false)
glimra_exec_argument("${CMAKE_INSTALL_PREFIX}/${GLIMRA_HELPER_EXECUTABLE}" GLIMRA_HELPER_EXEC)

configure_file("${GLIMRA_TEMPLATE_DIR}/app.glimra.Glimra.desktop.in"
  "${GLIMRA_WORK_DIR}/app.glimra.Glimra.desktop" @ONLY)
configure_file("${GLIMRA_TEMPLATE_DIR}/app.glimra.GlimraHelper.desktop.in"
  "${GLIMRA_WORK_DIR}/app.glimra.GlimraHelper.desktop" @ONLY)
configure_file("${GLIMRA_TEMPLATE_DIR}/app.glimra.GlimraHelper.service.in"
  "${GLIMRA_WORK_DIR}/app.glimra.GlimraHelper.service" @ONLY)
configure_file("${GLIMRA_TEMPLATE_DIR}/app.glimra.GlimraHelper.systemd.in"
  "${GLIMRA_WORK_DIR}/systemd/app.glimra.GlimraHelper.service" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${GLIMRA_DATADIR}/applications" TYPE FILE
  FILES "${GLIMRA_WORK_DIR}/app.glimra.Glimra.desktop" "${GLIMRA_WORK_DIR}/app.glimra.GlimraHelper.desktop")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${GLIMRA_DATADIR}/dbus-1/services" TYPE FILE
  FILES "${GLIMRA_WORK_DIR}/app.glimra.GlimraHelper.service")
# systemd looks for user units under lib/systemd/user of /usr and /usr/local (and ~/.local/share/systemd/user).
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user" TYPE FILE
  FILES "${GLIMRA_WORK_DIR}/systemd/app.glimra.GlimraHelper.service")
