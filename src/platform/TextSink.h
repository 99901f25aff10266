#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Where a program's lines go: a descriptor (standard output, standard
// error) or, in a test, memory. Each write reaches its destination before it
// returns, so a pipe or `tail -f` sees every line as it happens.
class TextSink
{
public:
    virtual ~TextSink() = default;
    // False when the text could not be written whole; error() says why.
    virtual bool write(QByteArrayView text) = 0;
    // The errno of the last failed write; EPIPE: the reader has gone.
    virtual int error() const = 0;
};

// A descriptor not owned: written through write(2), a signal's
// interruption retried.
class DescriptorSink final : public TextSink
{
public:
    explicit DescriptorSink(int fd) : m_fd(fd) {}
    bool write(QByteArrayView text) override;
    int error() const override { return m_error; }

private:
    int m_fd;
    int m_error = 0;
};

// What a test reads back; `failWith` set, every write fails so.
class BufferSink final : public TextSink
{
public:
    bool write(QByteArrayView text) override
    {
        if (failWith != 0)
            return false;
        this->text.append(text);
        return true;
    }
    int error() const override { return failWith; }

    QByteArray text;
    int failWith = 0;
};
