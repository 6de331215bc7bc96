#pragma once
// Host framework types keep default visibility even when a plug-in is built
// with -fvisibility=hidden: the plug-in refers to their vtables and type
// information, which the host process provides.
#define QORV_API __attribute__((visibility("default")))
