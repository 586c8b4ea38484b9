# Fails when a source file includes a header of a layer above its own, or a
# widget or GUI header from a layer below the GUI. Run at every build:
#   cmake -DROOT=<source dir> -P cmake/CheckLayers.cmake
#
# Each layer lists the layers it may include (itself included). Qt's include
# root is on every QtCore target's path, so <QtWidgets/...> would otherwise
# compile in a core folder; the scan is what stops it.

cmake_minimum_required(VERSION 3.25)

set(allowed_ferrox     ferrox)
set(allowed_version    version)
set(allowed_rawsock    rawsock)
set(allowed_markuptree ferrox markuptree)
set(allowed_platform   ferrox rawsock platform)
set(allowed_loop       ferrox platform loop)
set(allowed_channel    ferrox platform loop channel)
set(allowed_events     ferrox platform loop channel events)
set(allowed_engine     ferrox platform loop channel engine)
set(allowed_diag       ferrox platform loop channel diag)
set(allowed_core       ferrox markuptree platform loop channel engine events diag core)
set(allowed_cli        ferrox markuptree platform loop channel engine events diag core version cli)
set(gui_layers         app panes dialogs)
set(allowed_gui        ferrox markuptree platform loop channel engine events diag core version
                       ${gui_layers})
set(allowed_app        ${allowed_gui})
set(allowed_panes      ${allowed_gui})
set(allowed_dialogs    ${allowed_gui})
set(known_layers ferrox version rawsock markuptree platform loop channel events engine diag core cli
                 ${gui_layers})
set(core_layers ferrox version rawsock markuptree platform loop channel events engine diag core cli)

set(failures "")
foreach(layer ${known_layers})
  if(NOT IS_DIRECTORY "${ROOT}/${layer}")
    continue()
  endif()
  file(GLOB_RECURSE sources "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line ${includes})
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
        set(target "${CMAKE_MATCH_1}")
        if(target IN_LIST known_layers AND NOT target IN_LIST allowed_${layer})
          list(APPEND failures "${source}: ${layer}/ may not include ${target}/: ${line}")
        endif()
      endif()
      if(layer IN_LIST core_layers AND line MATCHES "#[ \t]*include[ \t]*<Qt(Widgets|Gui|Test)([/>])")
        list(APPEND failures "${source}: no widget or GUI header below the GUI: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "Layer check failed:\n${text}")
endif()
