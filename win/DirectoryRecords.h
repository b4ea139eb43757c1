#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

// The records that a directory query (NtQueryDirectoryFile, GetFileInformationByHandleEx with a
// directory class) wrote into a buffer, each of type Record, chained by NextEntryOffset: the one
// place that walks such a chain. A record whose fields or name would end beyond the written part of
// the buffer ends the walk.
template <class Record>
class CDirectoryRecords
{
public:
    CDirectoryRecords(const void* buffer, std::size_t size)
        : m_begin(static_cast<const unsigned char*>(buffer)), m_size(size)
    {
    }

    class iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = const Record*;
        using reference = const Record&;

        iterator() = default;
        iterator(const unsigned char* begin, std::size_t size, std::size_t offset)
            : m_begin(begin), m_size(size), m_offset(fits(offset) ? offset : size)
        {
        }

        const Record& operator*() const { return *reinterpret_cast<const Record*>(m_begin + m_offset); }
        const Record* operator->() const { return &**this; }
        iterator& operator++()
        {
            const std::uint32_t next = (**this).NextEntryOffset;
            m_offset = next != 0 && fits(m_offset + next) ? m_offset + next : m_size;
            return *this;
        }
        bool operator==(const iterator& other) const { return m_offset == other.m_offset; }
        bool operator!=(const iterator& other) const { return !(*this == other); }

    private:
        // The record's fields up to its name, and its name, lie in the buffer (a record is often
        // shorter than the structure that declares one character of the name).
        bool fits(std::size_t offset) const
        {
            constexpr std::size_t kHeader = offsetof(Record, FileName);
            return offset + kHeader <= m_size &&
                   offset + kHeader + reinterpret_cast<const Record*>(m_begin + offset)->FileNameLength <= m_size;
        }

        const unsigned char* m_begin = nullptr;
        std::size_t m_size = 0;
        std::size_t m_offset = 0;
    };

    iterator begin() const { return iterator(m_begin, m_size, 0); }
    iterator end() const { return iterator(m_begin, m_size, m_size); }

private:
    const unsigned char* m_begin;
    std::size_t m_size;
};
