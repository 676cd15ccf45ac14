// handle_table.h - live records behind small non-zero int handles.
//
// The settings-file and command-record handles are plain ints in the public
// interface, which cannot carry a 64-bit address.  Each record lives in a slot
// of a process-wide table instead; the handle packs the slot number with a
// generation count, so a handle that has been released (or never existed) is
// recognised and refused, never dereferenced.
#ifndef QEL_TB_HANDLE_TABLE_H
#define QEL_TB_HANDLE_TABLE_H

#include <pthread.h>

#include <cstdint>
#include <cstdlib>

template <typename T> class LoHandleTable
{
  public:
    // Slots are numbered 1..kMaxSlots in the low 16 bits; generations
    // 1..0x7FFF in the high bits keep every handle positive and non-zero.
    static constexpr int kMaxSlots = 0xFFFF;

    LoHandleTable() = default;
    LoHandleTable(const LoHandleTable&) = delete;
    LoHandleTable& operator=(const LoHandleTable&) = delete;

    // Frees the slots (not the records).  The table is left empty, so a
    // lookup that still comes in during process exit finds nothing.
    ~LoHandleTable()
    {
        Guard g(mutex_);
        std::free(slots_);
        slots_ = nullptr;
        count_ = 0;
        capacity_ = 0;
        first_free_ = 0;
    }

    // Stores ptr and returns its handle, or 0 when the table is full.
    int insert(T* ptr)
    {
        Guard g(mutex_);
        int index = -1;
        for (int i = first_free_; i < count_; ++i)
        {
            if (slots_[i].ptr == nullptr)
            {
                index = i;
                break;
            }
        }
        if (index < 0)
        {
            if (count_ == kMaxSlots || !grow())
                return 0;
            index = count_++;
            slots_[index].ptr = nullptr;
            slots_[index].generation = 1;
        }
        slots_[index].ptr = ptr;
        first_free_ = index + 1;
        return (slots_[index].generation << 16) | (index + 1);
    }

    // The record of a live handle, or null.
    T* find(int handle)
    {
        Guard g(mutex_);
        Slot* slot = lookup(handle);
        return slot != nullptr ? slot->ptr : nullptr;
    }

    // Removes a live handle and returns its record (null when not live).
    T* remove(int handle)
    {
        Guard g(mutex_);
        Slot* slot = lookup(handle);
        if (slot == nullptr)
            return nullptr;
        T* ptr = slot->ptr;
        slot->ptr = nullptr;
        const int index = static_cast<int>(slot - slots_);
        if (index < first_free_)
            first_free_ = index;
        slot->generation = slot->generation == 0x7FFF ? 1 : slot->generation + 1;
        return ptr;
    }

  private:
    struct Slot
    {
        T* ptr;
        int generation;
    };

    struct Guard
    {
        explicit Guard(pthread_mutex_t& m) : m_(m) { pthread_mutex_lock(&m_); }
        ~Guard() { pthread_mutex_unlock(&m_); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        pthread_mutex_t& m_;
    };

    Slot* lookup(int handle)
    {
        if (handle <= 0)
            return nullptr;
        const int index = (handle & 0xFFFF) - 1;
        const int generation = handle >> 16;
        if (index < 0 || index >= count_)
            return nullptr;
        Slot* slot = &slots_[index];
        if (slot->ptr == nullptr || slot->generation != generation)
            return nullptr;
        return slot;
    }

    bool grow()
    {
        if (count_ < capacity_)
            return true;
        int capacity = capacity_ == 0 ? 16 : capacity_ * 2;
        if (capacity > kMaxSlots)
            capacity = kMaxSlots;
        void* p = std::realloc(slots_, sizeof(Slot) * static_cast<std::size_t>(capacity));
        if (p == nullptr)
            return false;
        slots_ = static_cast<Slot*>(p);
        capacity_ = capacity;
        return true;
    }

    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    Slot* slots_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
    int first_free_ = 0; // no free slot below this index
};

#endif
