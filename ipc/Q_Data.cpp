#include "Q_Data.h"

#include <cstring>
#include <new>

#include "LogStream.h"

Q_Data::Q_Data(long productId, long length)
    : _productId(productId), _length(length > 0 ? length : 0), _data(nullptr)
{
}

Q_Data::~Q_Data()
{
    delete[] _data;
}

bool Q_Data::setData(const unsigned char* bytes)
{
    delete[] _data;
    _data = new (std::nothrow) unsigned char[_length > 0 ? _length : 1];
    if (!_data) {
        QEV_LOG(LogStream::PROBLEM, "Q_Data") << "Couldn't allocate memory for data" << std::endl;
        return false;
    }
    if (_length > 0 && bytes)
        std::memcpy(_data, bytes, static_cast<size_t>(_length));
    return true;
}
