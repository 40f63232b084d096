#include "DispatchEngine.h"

DispatchEngine::~DispatchEngine() {}
