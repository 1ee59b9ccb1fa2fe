#include "SerialPort.h"

#include "LargePages.h"
#include "ReadingText.h"

SerialPort::~SerialPort() = default;

QString SerialPort::escapedInput()
{
    return ReadingText::escape(input(), LargePages::prefer);
}
