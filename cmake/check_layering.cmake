# Which folder may include which. app/ and cli/ are on top; capture/, transmit/, term/,
# protocols/ and hexedit/ below them and beside each other, term/ on capture/ (a terminal is a
# capture with a screen) and protocols/ on capture/ (received files are named as captures are);
# serial/, loader/, platform/ and res/ at the bottom. An include of a project header from a
# folder not allowed here stops the build.
#   cmake -DSOURCE_DIR=<root> -P check_layering.cmake
set(allowed_app      app capture transmit term protocols hexedit serial loader platform res)
set(allowed_cli      cli capture transmit term protocols serial loader platform res)
set(allowed_capture  capture serial loader platform res)
set(allowed_transmit transmit serial loader platform res)
set(allowed_term     term capture serial loader platform res)
set(allowed_protocols protocols capture serial loader platform res)
set(allowed_hexedit  hexedit serial loader platform res)
set(allowed_serial   serial platform res)
set(allowed_loader   loader)
set(allowed_platform platform res)
set(allowed_res      res)
# The folders whose code must not touch a widget: the core and the command line.
set(widget_free capture transmit term protocols serial cli res)
set(project_folders app cli capture transmit term protocols hexedit serial loader platform res tests
    bench)

set(failures "")
foreach(folder app cli capture transmit term protocols hexedit serial loader platform res)
  file(GLOB sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line ${includes})
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z_]+)/")
        set(target ${CMAKE_MATCH_1})
        list(FIND project_folders ${target} is_project)
        list(FIND allowed_${folder} ${target} is_allowed)
        if(is_project GREATER -1 AND is_allowed EQUAL -1)
          string(APPEND failures "\n  ${source}: ${line}")
        endif()
      endif()
      list(FIND widget_free ${folder} must_be_widget_free)
      if(must_be_widget_free GREATER -1 AND line MATCHES "<(QtWidgets/|QtGui/|QtPrintSupport/)?Q(Widget|Dialog|Application|Label|LineEdit|ComboBox|PushButton|ListWidget|PlainTextEdit|MessageBox|Menu|ProgressBar|Accessible)[A-Za-z]*>")
        string(APPEND failures "\n  ${source}: ${line} (a widget in code that runs without a display)")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes against the layering:${failures}")
endif()
