# The module groups of the program and what each may use, from the top down.
#
# Every group is a static library, skyview_<group>, linked against the groups it names, so that a
# use against the order fails to link in the smallest program built on the group (its unit tests,
# a tool). cmake/CheckLayers.cmake checks every include against the same table. A group may use
# the groups it names and whatever those may use.
#
# A file belongs to the group whose matching pattern is the longest, so that a module kept beside
# lower ones in a folder (the viewer control among the contexts, the 3DS conversion beside the
# reader) still sits above them. SYSTEM names the system headers only that group may include.
set(SKYVIEW_LAYERS "")

macro(skyview_layer group)
  cmake_parse_arguments(layer "" "" "FILES;USES;SYSTEM" ${ARGN})
  list(APPEND SKYVIEW_LAYERS ${group})
  set(SKYVIEW_LAYER_FILES_${group} ${layer_FILES})
  set(SKYVIEW_LAYER_USES_${group} ${layer_USES})
  set(SKYVIEW_LAYER_SYSTEM_${group} ${layer_SYSTEM})
endmacro()

skyview_layer(app FILES app/* USES viewer objects meshes)
skyview_layer(viewer FILES engine/context/GLWin32Viewer* USES scene)
skyview_layer(objects FILES engine/objects/* USES scene)
skyview_layer(meshes FILES engine/meshes/* engine/3ds/GLFile3DS* USES scene lists 3ds)
skyview_layer(scene FILES engine/scene/* USES materials)
skyview_layer(materials FILES engine/materials/* USES misc)
skyview_layer(misc FILES engine/scene/GLMisc* engine/scene/RenderContextInfo* USES context)
skyview_layer(lists FILES engine/meshes/VectorLists* engine/meshes/PersistentClasses*
              USES geometry framework)
skyview_layer(context FILES engine/context/* USES geometry framework)
skyview_layer(geometry FILES engine/geometry/*)
skyview_layer(3ds FILES engine/3ds/* USES fileio)
skyview_layer(fileio FILES engine/meshes/ApplicationFileIO* USES streams)
skyview_layer(framework FILES platform/framework/* USES win32 streams SYSTEM jpeglib.h)
skyview_layer(win32 FILES platform/win32/* USES streams SYSTEM X11/ GL/ dlfcn.h)
skyview_layer(streams FILES platform/framework/SysUtils* platform/framework/Streams*
              platform/framework/Persistent*)

# Sets SKYVIEW_MEMBERS_<group> to the files of each group, relative to `root`, and
# SKYVIEW_LAYERED_FILES to all of them. SKYVIEW_GLOB_FLAGS may hold CONFIGURE_DEPENDS.
function(skyview_resolve_layers root)
  set(all "")
  foreach(group ${SKYVIEW_LAYERS})
    set(members_${group} "")
    foreach(pattern ${SKYVIEW_LAYER_FILES_${group}})
      file(GLOB matches LIST_DIRECTORIES false RELATIVE ${root} ${SKYVIEW_GLOB_FLAGS}
           ${root}/${pattern})
      string(LENGTH ${pattern} weight)
      foreach(file ${matches})
        string(MAKE_C_IDENTIFIER ${file} key)
        if(NOT DEFINED weight_${key} OR weight GREATER weight_${key})
          set(weight_${key} ${weight})
          set(owner_${key} ${group})
        endif()
        list(APPEND all ${file})
      endforeach()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES all)
  foreach(file ${all})
    string(MAKE_C_IDENTIFIER ${file} key)
    list(APPEND members_${owner_${key}} ${file})
  endforeach()
  foreach(group ${SKYVIEW_LAYERS})
    set(SKYVIEW_MEMBERS_${group} ${members_${group}} PARENT_SCOPE)
  endforeach()
  set(SKYVIEW_LAYERED_FILES ${all} PARENT_SCOPE)
endfunction()
