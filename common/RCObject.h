// Base of every shared, reference-counted representation (the text of a
// TextString, the storage of a SeqOf).
//
// A representation starts with no holder; each handle that holds it raises
// the count, and the last one to let go deletes it through the virtual
// destructor.  A representation into which a writable reference has been
// handed out is marked not shareable for the rest of its life: from then on
// every handle that takes it gets a deep copy instead.
//
// A representation made immortal (the one shared empty text) is neither
// counted nor deleted, and counts as shared, so nothing ever writes it:
// every thread, the socket layer's sending threads included, may take and
// drop it without touching memory that another thread writes, and it
// outlives every static object that still holds it at exit.
#ifndef RCOBJECT_H
#define RCOBJECT_H

class RCObject {
public:
    RCObject() : refCount(0), shareable(true), immortal(false) {}
    // A copy is a new representation: no holders, shareable, mortal.
    RCObject(const RCObject&) : refCount(0), shareable(true), immortal(false) {}
    RCObject& operator=(const RCObject&) { return *this; }
    virtual ~RCObject() {}

    void addReference()
    {
        if (!immortal)
            ++refCount;
    }
    void removeReference()
    {
        if (!immortal && --refCount == 0)
            delete this;
    }
    void markUnshareable() { shareable = false; }
    void makeImmortal() { immortal = true; }
    bool isShareable() const { return shareable; }
    bool isShared() const { return immortal || refCount > 1; }
    int references() const { return refCount; }

private:
    int refCount;
    bool shareable;
    bool immortal;
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
