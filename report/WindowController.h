// What a document window's controller offers the view inside it: the document it shows.
#pragma once

namespace tessarin {

class Document;

class WindowController {
public:
    virtual ~WindowController() = default;
    virtual Document* document() const = 0;
};

}  // namespace tessarin
