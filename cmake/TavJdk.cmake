# The JDK 17 whose headers the JNI code compiles against and whose VM the
# launcher loads when nothing else is configured. Debian's is preferred over
# any other JDK on the machine.
set(TAV_JDK_HOME "" CACHE PATH "Home of the JDK 17 used for JNI, JAWT and the Java GUI")
if(NOT TAV_JDK_HOME)
  file(GLOB debian_jdks /usr/lib/jvm/java-17-openjdk-*)
  list(SORT debian_jdks)
  if(debian_jdks)
    list(GET debian_jdks 0 TAV_JDK_HOME)
  elseif(DEFINED ENV{JAVA_HOME})
    set(TAV_JDK_HOME $ENV{JAVA_HOME})
  endif()
endif()
if(NOT EXISTS ${TAV_JDK_HOME}/include/jni.h)
  message(FATAL_ERROR "No JDK 17 found (set TAV_JDK_HOME): ${TAV_JDK_HOME}")
endif()
set(JAVA_HOME ${TAV_JDK_HOME})
message(STATUS "JDK: ${TAV_JDK_HOME}")

add_library(tav_jni INTERFACE)
target_include_directories(tav_jni INTERFACE ${TAV_JDK_HOME}/include ${TAV_JDK_HOME}/include/linux)
target_compile_definitions(tav_jni INTERFACE TAV_BUILD_JDK_HOME="${TAV_JDK_HOME}")
