// The small host objects: strings, throwables, registered functions.
#pragma once

#include <cstdint>
#include <string>

#include "object_model.h"

namespace lumadex::host {

struct StringObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::String;
    StringObject(std::shared_ptr<ObjectBook> book, std::string text)
        : dm_object(kClass, std::move(book)), text(std::move(text))
    {
    }
    std::string text;
};

struct ThrowableObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::Throwable;
    ThrowableObject(std::shared_ptr<ObjectBook> book, std::string message)
        : dm_object(kClass, std::move(book)), message(std::move(message))
    {
    }
    const std::string message;
};

// A script function as the registry handed it out: names its registration.
struct FunctionObject : dm_object {
    static constexpr ClassIndex kClass = ClassIndex::Function;
    FunctionObject(std::shared_ptr<ObjectBook> book, std::uint64_t registration, std::string signature)
        : dm_object(kClass, std::move(book)), registration(registration), signature(std::move(signature))
    {
    }
    const std::uint64_t registration;
    const std::string signature;
};

// The book new objects are counted in when nothing else says which host
// they belong to (strings made through the class table): the host serving
// the plug-in call in progress, else the most recently made host still
// alive, else a process-wide book.
std::shared_ptr<ObjectBook> current_book();

// Marks `book` as that of the host serving a call, for the guard's lifetime.
class CurrentBookScope {
public:
    explicit CurrentBookScope(std::shared_ptr<ObjectBook> book);
    ~CurrentBookScope();
    CurrentBookScope(const CurrentBookScope&) = delete;
    CurrentBookScope& operator=(const CurrentBookScope&) = delete;

private:
    std::shared_ptr<ObjectBook> previous_;
};

// Hosts announce their books while they live.
void add_host_book(const std::shared_ptr<ObjectBook>& book);
void remove_host_book(const std::shared_ptr<ObjectBook>& book);

}  // namespace lumadex::host
