#include "SerialPort.h"

SerialPort::~SerialPort() = default;
