#include "Receiver.h"

Receiver::~Receiver() {}
