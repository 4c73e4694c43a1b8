// Preload library for test runs under the thread sanitizer.
//
// Debian's Qt is not instrumented: the sanitizer does not see QMutex (a futex
// word), QSemaphore, the end of a QThread or the hand-over of posted events and
// queued signals, and reports every access ordered only by those as a race.
// This library tells it about them with __tsan_acquire / __tsan_release.
//
// Qt is linked with -Bsymbolic-functions, so only calls made from outside
// libQt5Core (from our code, or from Qt into GLib) can be interposed here;
// calls Qt makes to itself cannot. Each hook below says what it covers.
//
//  - Locks: QMutex, QBasicMutex's contended path, QReadWriteLock, QSemaphore
//    and QWaitCondition::wait are interposed and annotated on the object's
//    address. The uncontended QBasicMutex path is inline atomics in our own
//    (instrumented) code, on the same address, so both paths agree.
//  - Posted events, one edge per event: while a signal is emitted (the signal
//    spy callbacks), or while our code calls invokeMethod or deleteLater, the
//    allocations the size of a QMetaCallEvent or QDeferredDeleteEvent are
//    noted. When Qt wakes the receiving thread right after queuing the event
//    (g_main_context_wakeup, which postEvent calls for every event), the noted
//    allocations that are such events by their vtable are released on the
//    event's own address; everything else noted is forgotten. The receiving
//    thread acquires on the event's address just before delivery (Qt's event
//    notify callback), waiting the few instructions until the poster has
//    released it if need be. So a slot sees what the poster did up to queuing
//    that very event, nothing later, however often the same sender or thread
//    posts again. QThread::start() returns once the new thread has its event
//    dispatcher, so that every post wakes someone; what the starter posted
//    before is released before the thread starts.
//  - Queued calls are delivered by the notify callback itself (re-entering
//    Qt's notify path once), so that it can release after the call: on the
//    slot object, and for a blocking call on a key for the emitting signal
//    (or the receiver, for invokeMethod) that the emitter acquires when its
//    emission or invokeMethod returns. Qt destroys the event, waking the
//    blocked caller and dropping its slot object reference, only after that.
//    The key is shared by blocking calls of one signal of one sender: an
//    emitter may also see a blocking call another thread made of the same
//    signal and that ended while it was waking up; our code has no signal
//    emitted blocking from two threads at once.
//  - Thread end: once a QThread has emitted finished() on its own thread,
//    everything it frees from then on (deferred deletes, thread storage)
//    releases on a key for the thread; QThread::wait() and isFinished()
//    acquire it when they report the thread finished.
//  - Queued arguments of Qt's implicitly shared types (QByteArray, QString,
//    lists, maps) are destroyed inside Qt with the event: after the call the
//    receiver releases on their reference counts, as the decrement would.
//  - Slot objects: a connection's functor is called on one thread and
//    destroyed on another, ordered by reference counts inside Qt. Connections
//    made from our code get it wrapped: each call releases on the wrapper,
//    its destruction acquires first. invokeMethod with a functor holds a
//    reference of its own; when that one is dropped last, the functor ends
//    in the caller, after an acquire.
//  - Connections: connect() releases on a key for the sender; its emissions
//    acquire that key. Qt publishes a new connection with a release store
//    that every later emission of the sender loads with acquire, so the
//    emission really is ordered after the connect.
//
// Nothing here takes a lock the sanitizer can see (its own spin lock is plain
// uninstrumented atomics), and its memory is its own mmap'ed tables and the
// wrappers, so it adds no ordering of its own. In a process without the
// sanitizer (socat started by a test) it only forwards.

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QMetaMethod>
#include <QtCore/QMutex>
#include <QtCore/QReadWriteLock>
#include <QtCore/QSemaphore>
#include <QtCore/QThread>
#include <QtCore/QWaitCondition>
#include <QtCore/private/qobject_p.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <sched.h>
#include <sys/mman.h>

#define SHIM_TLS __attribute__((tls_model("initial-exec"))) thread_local

namespace {

// --- Sanitizer entry points, looked up so the library loads anywhere --------

struct Sanitizer
{
    void (*acquire)(void*) = nullptr;
    void (*release)(void*) = nullptr;
    int (*installHooks)(void (*)(const volatile void*, size_t), void (*)(const volatile void*)) = nullptr;
    bool on = false;
};
Sanitizer tsan;

inline void acquire(const void* key)
{
    if (tsan.on && key)
        tsan.acquire(const_cast<void*>(key));
}

inline void release(const void* key)
{
    if (tsan.on && key)
        tsan.release(const_cast<void*>(key));
}

template <typename F>
F nextSymbol(F& slot, const char* name)
{
    if (!slot)
        slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    if (!slot) {
        fprintf(stderr, "qtsync: %s not found\n", name);
        abort();
    }
    return slot;
}

// Looks the real function up once and calls it.
#define REAL(type, name) nextSymbol(real_##name, #name)
#define DECLARE_REAL(type, name) type real_##name = nullptr

// --- A spin lock the sanitizer does not see ---------------------------------

std::atomic_flag tableLock = ATOMIC_FLAG_INIT;

struct Locked
{
    Locked()
    {
        while (tableLock.test_and_set(std::memory_order_acquire))
            sched_yield();
    }
    ~Locked() { tableLock.clear(std::memory_order_release); }
};

qint64 monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void warnOnce(std::atomic<bool>& said, const char* text)
{
    if (!said.exchange(true))
        fprintf(stderr, "qtsync: %s\n", text);
}

// --- Events on their way: address -> state ----------------------------------

enum State : uintptr_t { Empty = 0, Pending = 1, Released = 2, Gone = 3, SlotCalled = 4 };

struct Slot
{
    uintptr_t address;
    uintptr_t state;
    const void* owner; // thread that noted it, while pending
};

constexpr size_t EventSlots = size_t(1) << 16;
Slot* events = nullptr;     // open addressing, linear probing, Gone as tombstone
size_t eventsUsed = 0;      // slots not Empty
std::atomic<size_t> eventsLive{0};
std::atomic<bool> eventsFull{false};

size_t hashOf(uintptr_t a)
{
    return size_t((a >> 4) * 0x9E3779B97F4A7C15ull);
}

Slot* findEvent(uintptr_t address)
{
    for (size_t i = hashOf(address) & (EventSlots - 1), n = 0; n < EventSlots;
         ++n, i = (i + 1) & (EventSlots - 1)) {
        if (events[i].state == Empty)
            return nullptr;
        if (events[i].state != Gone && events[i].address == address)
            return &events[i];
    }
    return nullptr;
}

void rebuildEvents()
{
    // Drops the tombstones: live entries go back in order.
    static Slot scratch[1024];
    size_t kept = 0;
    for (size_t i = 0; i < EventSlots && kept < 1024; ++i) {
        if (events[i].state == Pending || events[i].state == Released || events[i].state == SlotCalled)
            scratch[kept++] = events[i];
    }
    memset(events, 0, EventSlots * sizeof(Slot));
    eventsUsed = 0;
    for (size_t k = 0; k < kept; ++k) {
        size_t i = hashOf(scratch[k].address) & (EventSlots - 1);
        while (events[i].state != Empty)
            i = (i + 1) & (EventSlots - 1);
        events[i] = scratch[k];
        ++eventsUsed;
    }
}

bool insertEvent(uintptr_t address, uintptr_t state, const void* owner)
{
    if (Slot* s = findEvent(address)) {
        s->state = state;
        s->owner = owner;
        return true;
    }
    if (eventsUsed > EventSlots / 2) {
        if (eventsLive.load(std::memory_order_relaxed) > 1000) {
            static std::atomic<bool> said{false};
            warnOnce(said, "too many events in flight: later ones are not annotated");
            eventsFull = true;
            return false;
        }
        rebuildEvents();
    }
    size_t i = hashOf(address) & (EventSlots - 1);
    while (events[i].state != Empty && events[i].state != Gone)
        i = (i + 1) & (EventSlots - 1);
    if (events[i].state == Empty)
        ++eventsUsed;
    events[i] = Slot{address, state, owner};
    eventsLive.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void eraseEvent(Slot* s)
{
    s->state = Gone;
    eventsLive.fetch_sub(1, std::memory_order_relaxed);
}

// --- Keys that are not an object's own address -------------------------------

struct KeySlot
{
    uintptr_t a;
    intptr_t b;
    unsigned char* sync;
};

constexpr size_t KeySlots = size_t(1) << 16;
KeySlot* keys = nullptr;
unsigned char* keyBytes = nullptr; // one byte per key: what the sanitizer syncs on
size_t keysUsed = 0;

// Returns the sync address for (a, b); creates it only when asked to.
unsigned char* keyFor(uintptr_t a, intptr_t b, bool create)
{
    Locked lock;
    size_t i = hashOf(a ^ (uintptr_t(b) * 31)) & (KeySlots - 1);
    for (size_t n = 0; n < KeySlots; ++n, i = (i + 1) & (KeySlots - 1)) {
        if (!keys[i].sync)
            break;
        if (keys[i].a == a && keys[i].b == b)
            return keys[i].sync;
    }
    if (!create || keys[i].sync)
        return nullptr;
    if (keysUsed >= KeySlots / 2) {
        static std::atomic<bool> said{false};
        warnOnce(said, "too many blocking-call and thread keys: later ones are not annotated");
        return nullptr;
    }
    keys[i] = KeySlot{a, b, keyBytes + keysUsed++};
    return keys[i].sync;
}

constexpr intptr_t ThreadEndKey = -1000;
constexpr intptr_t ConnectKey = -1001;
constexpr intptr_t InvokeKey = -1;

// --- Per-thread state ----------------------------------------------------------

constexpr int MaxNoted = 256;

struct ThreadState
{
    int contexts;                  // emissions and posting calls in progress
    int noted;                     // allocations noted since the last flush
    uintptr_t notedAt[MaxNoted];
    const QThread* finishing;      // this thread's QThread after finished()
    QEvent* delivering;            // queued call being delivered here by onNotify
    int rwHeld;                    // read-write locks held, and how
    const QReadWriteLock* rwLock[32];
    bool rwWrite[32];
};

SHIM_TLS ThreadState self;

size_t metaCallSize = sizeof(QMetaCallEvent);
size_t deferredDeleteSize = sizeof(QDeferredDeleteEvent);
const void* metaCallVtable = nullptr;
const void* deferredDeleteVtable = nullptr;
int finishedSignal = -1;

// Releases the noted allocations that are posted events; forgets the rest.
void flushNoted()
{
    if (!self.noted)
        return;
    Locked lock;
    for (int k = 0; k < self.noted; ++k) {
        Slot* s = findEvent(self.notedAt[k]);
        if (!s || s->state != Pending || s->owner != &self)
            continue;
        const void* vtable = *reinterpret_cast<void* const*>(s->address);
        if (vtable == metaCallVtable || vtable == deferredDeleteVtable) {
            release(reinterpret_cast<void*>(s->address));
            s->state = Released;
        } else {
            eraseEvent(s);
        }
    }
    self.noted = 0;
}

void mallocHook(const volatile void* p, size_t size)
{
    if (!self.contexts || (size != metaCallSize && size != deferredDeleteSize) || eventsFull)
        return;
    if (self.noted == MaxNoted)
        flushNoted(); // never reached by the event of a single post
    {
        Locked lock;
        if (!insertEvent(uintptr_t(p), Pending, &self))
            return;
    }
    self.notedAt[self.noted++] = uintptr_t(p);
}

void freeHook(const volatile void* p)
{
    if (self.finishing)
        release(keyFor(uintptr_t(self.finishing), ThreadEndKey, true));
    if (!eventsLive.load(std::memory_order_relaxed))
        return;
    Locked lock;
    if (Slot* s = findEvent(uintptr_t(p))) {
        // A slot object: its last calls on other threads come before its end.
        if (s->state == SlotCalled)
            acquire(const_cast<void*>(p));
        eraseEvent(s);
    }
}


// --- Delivery ---------------------------------------------------------------------

// Layout of QAbstractMetaCallEvent's private members, checked against its
// accessors before use.
struct MetaCallLayout : QEvent
{
    int signalId;
    const QObject* sender;
    QSemaphore* semaphore;
};
static_assert(sizeof(MetaCallLayout) == sizeof(QAbstractMetaCallEvent), "QAbstractMetaCallEvent layout");

// QMetaCallEvent's private data starts with the slot object of a
// function-pointer or functor connection.
struct MetaCallSlotLayout : MetaCallLayout
{
    QtPrivate::QSlotObjectBase* slotObj;
    void** args;
    void* callFunction;
    int nargs;
    ushort methodOffset;
    ushort methodRelative;
    char prealloc[3 * (sizeof(void*) + sizeof(int))];
};
static_assert(sizeof(MetaCallSlotLayout) == sizeof(QMetaCallEvent), "QMetaCallEvent layout");

void acquireDelivered(QEvent* event)
{
    const qint64 start = monotonicMs();
    for (;;) {
        {
            Locked lock;
            Slot* s = findEvent(uintptr_t(event));
            if (!s)
                return;
            // Posted by this thread: ordered already.
            if (s->state == Released || s->owner == &self) {
                acquire(event);
                eraseEvent(s);
                return;
            }
        }
        // Queued but its poster has not yet woken this thread: that is a
        // matter of instructions, unless the poster is descheduled.
        if (monotonicMs() - start > 5000) {
            fprintf(stderr, "qtsync: event %p (type %d) delivered before its poster released it\n",
                    static_cast<void*>(event), int(event->type()));
            return;
        }
        sched_yield();
    }
}

bool (*realNotifyInternal2)(QObject*, QEvent*) = nullptr;

// Qt copies a queued call's arguments into the event and destroys the copies
// with it, inside Qt. For implicitly shared Qt types that drops a reference
// the sanitizer does not see: if the sender's own copy goes last, its
// (visible) release of the data would seem unordered after the slot's reads.
// Releasing on the reference count here, before Qt drops it, is what that
// atomic decrement does.
void releaseSharedArguments(QMetaCallEvent* call, int nargs)
{
    void** args = call->args();
    const int* types = call->types();
    for (int i = 1; i < nargs; ++i) {
        if (!args[i])
            continue;
        switch (types[i]) {
        case QMetaType::QByteArray:
        case QMetaType::QString:
        case QMetaType::QStringList:
        case QMetaType::QByteArrayList:
        case QMetaType::QVariantList:
        case QMetaType::QVariantMap:
            // The d-pointer, whose reference count comes first.
            release(*static_cast<void**>(args[i]));
            break;
        default:
            break;
        }
    }
}

bool onNotify(void** data)
{
    auto* receiver = static_cast<QObject*>(data[0]);
    auto* event = static_cast<QEvent*>(data[1]);
    if (!tsan.on || !event)
        return false;
    if (event == self.delivering)
        return false; // our own re-entry below
    acquireDelivered(event);
    if (event->type() != QEvent::MetaCall
        || *reinterpret_cast<void* const*>(event) != metaCallVtable)
        return false;

    const auto* call = static_cast<const QAbstractMetaCallEvent*>(event);
    const auto* layout = reinterpret_cast<const MetaCallSlotLayout*>(event);
    if (layout->sender != call->sender() || layout->signalId != call->signalId()) {
        static std::atomic<bool> said{false};
        warnOnce(said, "QAbstractMetaCallEvent layout differs: queued calls not annotated");
        return false;
    }

    // Qt drops the event's reference to the slot object, and wakes a blocking
    // caller, when it destroys the event after this returns. Deliver it here
    // so that what the call did is released first.
    QEvent* outer = self.delivering;
    self.delivering = event;
    const bool handled = realNotifyInternal2(receiver, event);
    self.delivering = outer;
    releaseSharedArguments(static_cast<QMetaCallEvent*>(event), layout->nargs);
    if (QtPrivate::QSlotObjectBase* slot = layout->slotObj) {
        release(slot);
        Locked lock;
        if (!findEvent(uintptr_t(slot)))
            insertEvent(uintptr_t(slot), SlotCalled, nullptr);
    }
    if (layout->semaphore) {
        if (call->sender())
            release(keyFor(uintptr_t(call->sender()), call->signalId(), true));
        else
            release(keyFor(uintptr_t(receiver), InvokeKey, true));
    }
    *static_cast<bool*>(data[2]) = handled;
    return true;
}

// QSlotObjectBase starts with its reference count.
struct SlotRefLayout
{
    QAtomicInt ref;
    void* impl;
};
static_assert(sizeof(SlotRefLayout) == sizeof(QtPrivate::QSlotObjectBase), "QSlotObjectBase layout");

// --- Slot objects of connections -----------------------------------------------------
//
// Qt calls a connection's slot object on the emitting thread (or, queued,
// on the receiver's) and destroys it on whichever thread drops the
// connection last, ordered by reference counts inside Qt. Our connects get
// the slot object wrapped: every call releases on the wrapper when it
// returns, and its destruction acquires that before the functor and what it
// captured are destroyed. Every call, and the destruction, also acquires
// what the connecting thread released once the functor was made: an emission
// that began before the connect (and so acquired the sender's connect key
// too early) may still reach the new connection, and be the one that drops
// it last.
struct SlotWrapper : QtPrivate::QSlotObjectBase
{
    explicit SlotWrapper(QtPrivate::QSlotObjectBase* inner) : QSlotObjectBase(&impl), inner(inner)
    {
        release(made());
    }

    const void* made() const { return &inner; }

    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* w = static_cast<SlotWrapper*>(self);
        switch (which) {
        case Destroy:
            acquire(w->made());
            acquire(w);
            w->inner->destroyIfLastRef();
            delete w;
            break;
        case Call:
            acquire(w->made());
            w->inner->call(receiver, args);
            release(w);
            break;
        case Compare:
            *ret = w->inner->compare(args);
            break;
        }
    }

    QtPrivate::QSlotObjectBase* inner;
};

// --- Signal emission --------------------------------------------------------------

// Callbacks someone else registered (Qt Test's -vs); ours call them too.
std::atomic<QSignalSpyCallbackSet*> otherSpy{nullptr};

void signalBegin(QObject* caller, int signalIndex, void** argv)
{
    if (QSignalSpyCallbackSet* other = otherSpy.load(std::memory_order_relaxed)) {
        if (other->signal_begin_callback)
            other->signal_begin_callback(caller, signalIndex, argv);
    }
    flushNoted();
    ++self.contexts;
    // Connections made on other threads are published to the emitter.
    if (unsigned char* key = keyFor(uintptr_t(caller), ConnectKey, false))
        acquire(key);
    if (signalIndex == finishedSignal && caller == QThread::currentThread())
        self.finishing = static_cast<QThread*>(caller);
}

void signalEnd(QObject* caller, int signalIndex)
{
    if (QSignalSpyCallbackSet* other = otherSpy.load(std::memory_order_relaxed)) {
        if (other->signal_end_callback)
            other->signal_end_callback(caller, signalIndex);
    }
    flushNoted();
    --self.contexts;
    if (self.finishing == caller && signalIndex == finishedSignal)
        release(keyFor(uintptr_t(caller), ThreadEndKey, true));
    // Blocking connections of this signal have returned by now.
    if (unsigned char* key = keyFor(uintptr_t(caller), signalIndex, false))
        acquire(key);
}

void slotBegin(QObject* caller, int index, void** argv)
{
    if (QSignalSpyCallbackSet* other = otherSpy.load(std::memory_order_relaxed)) {
        if (other->slot_begin_callback)
            other->slot_begin_callback(caller, index, argv);
    }
}

void slotEnd(QObject* caller, int index)
{
    if (QSignalSpyCallbackSet* other = otherSpy.load(std::memory_order_relaxed)) {
        if (other->slot_end_callback)
            other->slot_end_callback(caller, index);
    }
}

QSignalSpyCallbackSet spyCallbacks = {signalBegin, slotBegin, signalEnd, slotEnd};
using FnSpy = void (*)(QSignalSpyCallbackSet*);

// Whether an invokeMethod call may post an event (a direct call posts none;
// test functions are invoked directly and run long).
bool mayPost(const QObject* receiver, Qt::ConnectionType type)
{
    return type == Qt::QueuedConnection || type == Qt::BlockingQueuedConnection
            || (type == Qt::AutoConnection && receiver && receiver->thread() != QThread::currentThread());
}

struct PostingContext
{
    explicit PostingContext(bool on) : on(on)
    {
        if (on)
            ++self.contexts;
    }
    ~PostingContext()
    {
        if (on) {
            flushNoted();
            --self.contexts;
        }
    }
    const bool on;
};

void afterInvoke(QObject* receiver, Qt::ConnectionType type)
{
    if (type == Qt::BlockingQueuedConnection) {
        if (unsigned char* key = keyFor(uintptr_t(receiver), InvokeKey, false))
            acquire(key);
    }
}

__attribute__((constructor)) void setUp()
{
    tsan.acquire = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "__tsan_acquire"));
    tsan.release = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "__tsan_release"));
    tsan.installHooks = reinterpret_cast<decltype(tsan.installHooks)>(
            dlsym(RTLD_DEFAULT, "__sanitizer_install_malloc_and_free_hooks"));
    if (!tsan.acquire || !tsan.release || !tsan.installHooks)
        return; // not a sanitized process: only forward

    auto* const* mce = static_cast<void* const*>(dlsym(RTLD_DEFAULT, "_ZTV14QMetaCallEvent"));
    auto* const* dde = static_cast<void* const*>(dlsym(RTLD_DEFAULT, "_ZTV20QDeferredDeleteEvent"));
    realNotifyInternal2 = reinterpret_cast<bool (*)(QObject*, QEvent*)>(
            dlsym(RTLD_DEFAULT, "_ZN16QCoreApplication15notifyInternal2EP7QObjectP6QEvent"));
    if (!mce || !dde || !realNotifyInternal2) {
        fprintf(stderr, "qtsync: Qt's event symbols not found\n");
        abort();
    }
    // An object's vtable pointer points past the offset-to-top and typeinfo.
    metaCallVtable = mce + 2;
    deferredDeleteVtable = dde + 2;

    void* tables = mmap(nullptr, EventSlots * sizeof(Slot) + KeySlots * sizeof(KeySlot) + KeySlots,
                        PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (tables == MAP_FAILED) {
        perror("qtsync: mmap");
        abort();
    }
    events = static_cast<Slot*>(tables);
    keys = reinterpret_cast<KeySlot*>(events + EventSlots);
    keyBytes = reinterpret_cast<unsigned char*>(keys + KeySlots);

    // Signal index of QThread::finished as the spy callbacks count them.
    const QMetaObject& mo = QThread::staticMetaObject;
    const int finishedMethod = QMetaMethod::fromSignal(&QThread::finished).methodIndex();
    int before = 0;
    for (int m = 0; m < finishedMethod; ++m)
        before += mo.method(m).methodType() == QMetaMethod::Signal;
    finishedSignal = before;

    tsan.on = true;
    tsan.installHooks(mallocHook, freeHook);
    QInternal::registerCallback(QInternal::EventNotifyCallback, onNotify);
    reinterpret_cast<FnSpy>(dlsym(RTLD_NEXT, "_Z32qt_register_signal_spy_callbacksP21QSignalSpyCallbackSet"))(&spyCallbacks);
}

// Read-write locks: readers sync with writers, not with each other.
void readWriteLocked(const QReadWriteLock* lock, bool write)
{
    const char* k = reinterpret_cast<const char*>(lock);
    acquire(k);
    if (write)
        acquire(k + 1);
    if (self.rwHeld < 32) {
        self.rwLock[self.rwHeld] = lock;
        self.rwWrite[self.rwHeld] = write;
        ++self.rwHeld;
    }
}

bool readWriteUnlocking(const QReadWriteLock* lock, bool pop)
{
    bool write = true;
    for (int i = self.rwHeld - 1; i >= 0; --i) {
        if (self.rwLock[i] == lock) {
            write = self.rwWrite[i];
            if (pop) {
                for (int j = i; j + 1 < self.rwHeld; ++j) {
                    self.rwLock[j] = self.rwLock[j + 1];
                    self.rwWrite[j] = self.rwWrite[j + 1];
                }
                --self.rwHeld;
            }
            break;
        }
    }
    const char* k = reinterpret_cast<const char*>(lock);
    release(write ? k : k + 1);
    return write;
}

// Real functions, by mangled name.
using Fn0 = void (*)(void*);
using FnB0 = bool (*)(void*);
using FnBi = bool (*)(void*, int);
using FnVi = void (*)(void*, int);
using FnBii = bool (*)(void*, int, int);
using FnWaitD = bool (*)(void*, void*, QDeadlineTimer);
using FnWaitU = bool (*)(void*, void*, unsigned long);
using FnThreadD = bool (*)(void*, QDeadlineTimer);
using FnThreadU = bool (*)(void*, unsigned long);
using FnBc = bool (*)(const void*);
using FnPost = void (*)(QObject*, QEvent*, int);
using FnInvokeImpl = bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
using FnInvokeName = bool (*)(QObject*, const char*, Qt::ConnectionType, QGenericReturnArgument,
                              QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                              QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                              QGenericArgument, QGenericArgument);
using FnMethodInvoke = bool (*)(const QMetaMethod*, QObject*, Qt::ConnectionType, QGenericReturnArgument,
                                QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                                QGenericArgument, QGenericArgument, QGenericArgument, QGenericArgument,
                                QGenericArgument, QGenericArgument);
using FnWakeup = void (*)(void*);

DECLARE_REAL(Fn0, _ZN6QMutex4lockEv);
DECLARE_REAL(FnBi, _ZN6QMutex7tryLockEi);
DECLARE_REAL(Fn0, _ZN6QMutex6unlockEv);
DECLARE_REAL(Fn0, _ZN11QBasicMutex12lockInternalEv);
DECLARE_REAL(FnBi, _ZN11QBasicMutex12lockInternalEi);
DECLARE_REAL(Fn0, _ZN11QBasicMutex14unlockInternalEv);
DECLARE_REAL(Fn0, _ZN14QReadWriteLock11lockForReadEv);
DECLARE_REAL(FnB0, _ZN14QReadWriteLock14tryLockForReadEv);
DECLARE_REAL(FnBi, _ZN14QReadWriteLock14tryLockForReadEi);
DECLARE_REAL(Fn0, _ZN14QReadWriteLock12lockForWriteEv);
DECLARE_REAL(FnB0, _ZN14QReadWriteLock15tryLockForWriteEv);
DECLARE_REAL(FnBi, _ZN14QReadWriteLock15tryLockForWriteEi);
DECLARE_REAL(Fn0, _ZN14QReadWriteLock6unlockEv);
DECLARE_REAL(FnVi, _ZN10QSemaphore7acquireEi);
DECLARE_REAL(FnBi, _ZN10QSemaphore10tryAcquireEi);
DECLARE_REAL(FnBii, _ZN10QSemaphore10tryAcquireEii);
DECLARE_REAL(FnVi, _ZN10QSemaphore7releaseEi);
DECLARE_REAL(FnWaitD, _ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer);
DECLARE_REAL(FnWaitU, _ZN14QWaitCondition4waitEP6QMutexm);
DECLARE_REAL(FnWaitD, _ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer);
DECLARE_REAL(FnWaitU, _ZN14QWaitCondition4waitEP14QReadWriteLockm);
DECLARE_REAL(FnThreadD, _ZN7QThread4waitE14QDeadlineTimer);
DECLARE_REAL(FnThreadU, _ZN7QThread4waitEm);
DECLARE_REAL(FnBc, _ZNK7QThread10isFinishedEv);
DECLARE_REAL(FnVi, _ZN7QThread5startENS_8PriorityE);
DECLARE_REAL(Fn0, _ZN7QObject11deleteLaterEv);
DECLARE_REAL(FnPost, _ZN16QCoreApplication9postEventEP7QObjectP6QEventi);
DECLARE_REAL(FnInvokeImpl, _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv);
DECLARE_REAL(FnInvokeName, _ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_);
DECLARE_REAL(FnMethodInvoke, _ZNK11QMetaMethod6invokeEP7QObjectN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS5_S5_S5_S5_S5_S5_S5_S5_S5_);
DECLARE_REAL(FnWakeup, g_main_context_wakeup);
using FnConnect = QMetaObject::Connection (*)(const QObject*, void**, const QObject*, void**,
                                              QtPrivate::QSlotObjectBase*, Qt::ConnectionType,
                                              const int*, const QMetaObject*);
DECLARE_REAL(FnConnect, _ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject);

} // namespace

// --- Interposed Qt functions ---------------------------------------------------------

void QMutex::lock() noexcept
{
    REAL(Fn0, _ZN6QMutex4lockEv)(this);
    acquire(this);
}

bool QMutex::tryLock(int timeout) noexcept
{
    const bool locked = REAL(FnBi, _ZN6QMutex7tryLockEi)(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    release(this);
    REAL(Fn0, _ZN6QMutex6unlockEv)(this);
}

void QBasicMutex::lockInternal() noexcept
{
    REAL(Fn0, _ZN11QBasicMutex12lockInternalEv)(this);
    acquire(this);
}

bool QBasicMutex::lockInternal(int timeout) noexcept
{
    const bool locked = REAL(FnBi, _ZN11QBasicMutex12lockInternalEi)(this, timeout);
    if (locked)
        acquire(this);
    return locked;
}

void QBasicMutex::unlockInternal() noexcept
{
    release(this);
    REAL(Fn0, _ZN11QBasicMutex14unlockInternalEv)(this);
}

void QReadWriteLock::lockForRead()
{
    REAL(Fn0, _ZN14QReadWriteLock11lockForReadEv)(this);
    readWriteLocked(this, false);
}

bool QReadWriteLock::tryLockForRead()
{
    const bool locked = REAL(FnB0, _ZN14QReadWriteLock14tryLockForReadEv)(this);
    if (locked)
        readWriteLocked(this, false);
    return locked;
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    const bool locked = REAL(FnBi, _ZN14QReadWriteLock14tryLockForReadEi)(this, timeout);
    if (locked)
        readWriteLocked(this, false);
    return locked;
}

void QReadWriteLock::lockForWrite()
{
    REAL(Fn0, _ZN14QReadWriteLock12lockForWriteEv)(this);
    readWriteLocked(this, true);
}

bool QReadWriteLock::tryLockForWrite()
{
    const bool locked = REAL(FnB0, _ZN14QReadWriteLock15tryLockForWriteEv)(this);
    if (locked)
        readWriteLocked(this, true);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    const bool locked = REAL(FnBi, _ZN14QReadWriteLock15tryLockForWriteEi)(this, timeout);
    if (locked)
        readWriteLocked(this, true);
    return locked;
}

void QReadWriteLock::unlock()
{
    readWriteUnlocking(this, true);
    REAL(Fn0, _ZN14QReadWriteLock6unlockEv)(this);
}

void QSemaphore::acquire(int n)
{
    REAL(FnVi, _ZN10QSemaphore7acquireEi)(this, n);
    ::acquire(this);
}

bool QSemaphore::tryAcquire(int n)
{
    const bool got = REAL(FnBi, _ZN10QSemaphore10tryAcquireEi)(this, n);
    if (got)
        ::acquire(this);
    return got;
}

bool QSemaphore::tryAcquire(int n, int timeout)
{
    const bool got = REAL(FnBii, _ZN10QSemaphore10tryAcquireEii)(this, n, timeout);
    if (got)
        ::acquire(this);
    return got;
}

void QSemaphore::release(int n)
{
    ::release(this);
    REAL(FnVi, _ZN10QSemaphore7releaseEi)(this, n);
}

// The wait unlocks the mutex and locks it again before returning, inside Qt.
bool QWaitCondition::wait(QMutex* mutex, QDeadlineTimer deadline)
{
    release(mutex);
    const bool woken = REAL(FnWaitD, _ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer)(this, mutex, deadline);
    acquire(mutex);
    return woken;
}

bool QWaitCondition::wait(QMutex* mutex, unsigned long time)
{
    release(mutex);
    const bool woken = REAL(FnWaitU, _ZN14QWaitCondition4waitEP6QMutexm)(this, mutex, time);
    acquire(mutex);
    return woken;
}

bool QWaitCondition::wait(QReadWriteLock* lock, QDeadlineTimer deadline)
{
    const bool write = readWriteUnlocking(lock, false);
    const bool woken = REAL(FnWaitD, _ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer)(this, lock, deadline);
    const char* k = reinterpret_cast<const char*>(lock);
    acquire(k);
    if (write)
        acquire(k + 1);
    return woken;
}

bool QWaitCondition::wait(QReadWriteLock* lock, unsigned long time)
{
    const bool write = readWriteUnlocking(lock, false);
    const bool woken = REAL(FnWaitU, _ZN14QWaitCondition4waitEP14QReadWriteLockm)(this, lock, time);
    const char* k = reinterpret_cast<const char*>(lock);
    acquire(k);
    if (write)
        acquire(k + 1);
    return woken;
}

bool QThread::wait(QDeadlineTimer deadline)
{
    const bool done = REAL(FnThreadD, _ZN7QThread4waitE14QDeadlineTimer)(this, deadline);
    if (done)
        acquire(keyFor(uintptr_t(this), ThreadEndKey, false));
    return done;
}

bool QThread::wait(unsigned long time)
{
    const bool done = REAL(FnThreadU, _ZN7QThread4waitEm)(this, time);
    if (done)
        acquire(keyFor(uintptr_t(this), ThreadEndKey, false));
    return done;
}

bool QThread::isFinished() const
{
    const bool done = REAL(FnBc, _ZNK7QThread10isFinishedEv)(this);
    if (done)
        acquire(keyFor(uintptr_t(this), ThreadEndKey, false));
    return done;
}

// Events posted to a thread's objects before its event dispatcher exists
// wake no one, so nothing releases them when queued. The caller's own
// pending ones are released before the thread starts (which orders them
// anyway), and start() returns once the new thread has its dispatcher.
void QThread::start(Priority priority)
{
    flushNoted();
    REAL(FnVi, _ZN7QThread5startENS_8PriorityE)(this, int(priority));
    const qint64 begin = monotonicMs();
    while (!eventDispatcher() && !REAL(FnBc, _ZNK7QThread10isFinishedEv)(this)
           && monotonicMs() - begin < 10000)
        sched_yield();
}

void QObject::deleteLater()
{
    PostingContext posting(true);
    REAL(Fn0, _ZN7QObject11deleteLaterEv)(this);
}

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority)
{
    // The event is complete before it is handed over.
    if (tsan.on && event) {
        release(event);
        Locked lock;
        insertEvent(uintptr_t(event), Released, nullptr);
    }
    REAL(FnPost, _ZN16QCoreApplication9postEventEP7QObjectP6QEventi)(receiver, event, priority);
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot,
                                   Qt::ConnectionType type, void* ret)
{
    // Qt drops its last reference to the functor either here or, after the
    // call, on the receiving thread. Hold one so it ends here, after the call
    // on the other thread is known to be done.
    if (tsan.on && slot)
        slot->ref();
    bool invoked;
    {
        PostingContext posting(mayPost(object, type));
        invoked = REAL(FnInvokeImpl, _ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv)(
                object, slot, type, ret);
    }
    afterInvoke(object, type);
    if (tsan.on && slot) {
        // The receiving thread releases after the call, then drops its
        // reference inside Qt: acquire only once ours is known to be the last.
        if (!reinterpret_cast<SlotRefLayout*>(slot)->ref.deref()) {
            acquire(slot);
            slot->ref(); // back to one, for destroyIfLastRef to destroy
            slot->destroyIfLastRef();
        }
    }
    return invoked;
}

bool QMetaObject::invokeMethod(QObject* obj, const char* member, Qt::ConnectionType type,
                               QGenericReturnArgument ret, QGenericArgument a0, QGenericArgument a1,
                               QGenericArgument a2, QGenericArgument a3, QGenericArgument a4,
                               QGenericArgument a5, QGenericArgument a6, QGenericArgument a7,
                               QGenericArgument a8, QGenericArgument a9)
{
    bool invoked;
    {
        PostingContext posting(mayPost(obj, type));
        invoked = REAL(FnInvokeName, _ZN11QMetaObject12invokeMethodEP7QObjectPKcN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS7_S7_S7_S7_S7_S7_S7_S7_S7_)(
                obj, member, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
    }
    afterInvoke(obj, type);
    return invoked;
}

bool QMetaMethod::invoke(QObject* object, Qt::ConnectionType type, QGenericReturnArgument ret,
                         QGenericArgument a0, QGenericArgument a1, QGenericArgument a2,
                         QGenericArgument a3, QGenericArgument a4, QGenericArgument a5,
                         QGenericArgument a6, QGenericArgument a7, QGenericArgument a8,
                         QGenericArgument a9) const
{
    bool invoked;
    {
        PostingContext posting(mayPost(object, type));
        invoked = REAL(FnMethodInvoke, _ZNK11QMetaMethod6invokeEP7QObjectN2Qt14ConnectionTypeE22QGenericReturnArgument16QGenericArgumentS5_S5_S5_S5_S5_S5_S5_S5_S5_)(
                this, object, type, ret, a0, a1, a2, a3, a4, a5, a6, a7, a8, a9);
    }
    afterInvoke(object, type);
    return invoked;
}

// Qt Test registers its own callbacks for -vs and clears them when the test
// functions are done; ours stay, calling its.
void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* set)
{
    if (!tsan.on) {
        reinterpret_cast<FnSpy>(dlsym(RTLD_NEXT, "_Z32qt_register_signal_spy_callbacksP21QSignalSpyCallbackSet"))(set);
        return;
    }
    otherSpy = set == &spyCallbacks ? nullptr : set;
}

// Emissions on other threads see the new connection; they acquire this. The
// slot object is wrapped (see SlotWrapper).
QMetaObject::Connection QObject::connectImpl(const QObject* sender, void** signal, const QObject* receiver,
                                             void** slotPtr, QtPrivate::QSlotObjectBase* slot,
                                             Qt::ConnectionType type, const int* types,
                                             const QMetaObject* senderMetaObject)
{
    if (tsan.on && slot)
        slot = new SlotWrapper(slot);
    QMetaObject::Connection c = REAL(FnConnect, _ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject)(
            sender, signal, receiver, slotPtr, slot, type, types, senderMetaObject);
    if (tsan.on && sender)
        release(keyFor(uintptr_t(sender), ConnectKey, true));
    return c;
}

// Qt's event dispatcher calls this right after queuing an event for a thread.
extern "C" void g_main_context_wakeup(void* context)
{
    flushNoted();
    REAL(FnWakeup, g_main_context_wakeup)(context);
}
