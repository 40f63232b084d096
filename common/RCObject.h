// Base of every shared, reference-counted representation (the text of a
// TextString, the storage of a SeqOf).
//
// A representation starts with no holder; each handle that holds it raises
// the count, and the last one to let go deletes it through the virtual
// destructor.  A representation into which a writable reference has been
// handed out is marked not shareable for the rest of its life: from then on
// every handle that takes it gets a deep copy instead.
#ifndef RCOBJECT_H
#define RCOBJECT_H

class RCObject {
public:
    RCObject() : refCount(0), shareable(true) {}
    // A copy is a new representation: no holders, shareable.
    RCObject(const RCObject&) : refCount(0), shareable(true) {}
    RCObject& operator=(const RCObject&) { return *this; }
    virtual ~RCObject() {}

    void addReference() { ++refCount; }
    void removeReference()
    {
        if (--refCount == 0)
            delete this;
    }
    void markUnshareable() { shareable = false; }
    bool isShareable() const { return shareable; }
    bool isShared() const { return refCount > 1; }
    int references() const { return refCount; }

private:
    int refCount;
    bool shareable;
};

// The holding rules shared by every handle of a representation type V (V
// derives from RCObject and its copy constructor makes a deep copy).

// Takes a reference to v: a representation marked not shareable is copied
// and the copy is held instead.  Returns the representation now held.
template <class V>
V* rcTake(V* v)
{
    if (!v->isShareable())
        v = new V(*v);
    v->addReference();
    return v;
}

// Replaces the representation held in `held` by w's (nothing when it is the
// same one).
template <class V>
void rcReplace(V*& held, V* w)
{
    if (held == w)
        return;
    V* taken = rcTake(w);
    held->removeReference();
    held = taken;
}

#endif
