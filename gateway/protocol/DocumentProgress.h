#pragma once

#include "gateway/base/Text.h"

#include <memory>

struct _xmlParserCtxt;

namespace gateway {

// Follows a request text piece by piece, as it arrives, and tells whether the text so far ends
// inside the document: well-formed up to its end, with the document element not closed yet.
// Each piece is parsed once, so gathering a request that trickles in stays linear.
class DocumentProgress
{
public:
    DocumentProgress();
    ~DocumentProgress();
    DocumentProgress(const DocumentProgress&) = delete;
    DocumentProgress& operator=(const DocumentProgress&) = delete;

    void add(TextView piece);
    bool endsInsideDocument() const;

private:
    struct ContextDeleter
    {
        void operator()(_xmlParserCtxt* context) const;
    };
    std::unique_ptr<_xmlParserCtxt, ContextDeleter> m_context;
};

} // namespace gateway
