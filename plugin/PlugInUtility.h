// The plug-in frame in one include: host link and objects, errors and the
// fixed messages, call tracing, the script-call frame and registration.
#pragma once

#include "CallTracing.h"
#include "Errors.h"
#include "Export.h"
#include "HostLink.h"
#include "HostObjects.h"
#include "Messages.h"
#include "Registration.h"
#include "ScriptFrame.h"
