// Q_Data: one data item waiting in a data routing entry's queue while its
// client is not ready: the product id and a copy of the bytes, owned.
#ifndef Q_DATA_H
#define Q_DATA_H

class Q_Data {
public:
    // No bytes yet; a negative length counts as 0.
    Q_Data(long productId, long length);
    Q_Data(const Q_Data&) = delete;
    Q_Data& operator=(const Q_Data&) = delete;
    ~Q_Data();

    // Copies length bytes; false (logged) when the copy cannot be had.
    bool setData(const unsigned char* bytes);

    long productId() const { return _productId; }
    long length() const { return _length; }
    const unsigned char* data() const { return _data; }

private:
    long _productId;
    long _length;
    unsigned char* _data;
};

#endif
