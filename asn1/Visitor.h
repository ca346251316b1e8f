// The two visitor interfaces: Visitor walks mutable values (decoders), ConstVisitor walks
// constant values (encoders, printers, checkers). A SEQUENCE is walked by a driver that calls
// the hooks for its root fields and its extension part.
#pragma once

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class OCTET_STRING;
class BIT_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;

class Visitor {
public:
    // Result codes of the int SEQUENCE hooks.
    enum { Fail = 0, Done = 1, NoExtensions = 2, Continue = 3 };

    virtual ~Visitor() = default;

    virtual bool do_visit(Null& v) = 0;
    virtual bool do_visit(BOOLEAN& v) = 0;
    virtual bool do_visit(INTEGER& v) = 0;
    virtual bool do_visit(IntegerWithNamedNumber& v);
    virtual bool do_visit(ENUMERATED& v) = 0;
    virtual bool do_visit(OBJECT_IDENTIFIER& v) = 0;
    virtual bool do_visit(OCTET_STRING& v) = 0;
    virtual bool do_visit(BIT_STRING& v) = 0;
    virtual bool do_visit(AbstractString& v) = 0;
    virtual bool do_visit(BMPString& v) = 0;
    virtual bool do_visit(CHOICE& v) = 0;
    virtual bool do_visit(SEQUENCE_OF_Base& v) = 0;
    virtual bool do_visit(OpenData& v) = 0;
    // Decodes the octets an open type kept when its decoding was deferred.
    virtual bool do_revisit(OpenData& v) = 0;
    virtual bool do_visit(TypeConstrainedOpenData& v) = 0;
    virtual bool do_visit(GeneralizedTime& v) = 0;
    virtual int preVisitExtensionRoots(SEQUENCE& seq);
    virtual int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId);
    virtual int preVisitExtensions(SEQUENCE& seq);
    virtual int visitKnownExtension(SEQUENCE& seq, int index, int optionalId);
    virtual bool visitUnknownExtensions(SEQUENCE& seq);

    // The SEQUENCE driver (walkSequence); a coder overrides it only to have the hooks called
    // directly.
    virtual bool visit(SEQUENCE& seq);
};

class ConstVisitor {
public:
    virtual ~ConstVisitor() = default;

    virtual bool do_visit(const AbstractData& v);
    virtual bool do_visit(const Null& v);
    virtual bool do_visit(const BOOLEAN& v);
    virtual bool do_visit(const INTEGER& v);
    virtual bool do_visit(const IntegerWithNamedNumber& v);
    virtual bool do_visit(const ENUMERATED& v);
    virtual bool do_visit(const OBJECT_IDENTIFIER& v);
    virtual bool do_visit(const BIT_STRING& v);
    virtual bool do_visit(const OCTET_STRING& v);
    virtual bool do_visit(const AbstractString& v);
    virtual bool do_visit(const BMPString& v);
    virtual bool do_visit(const CHOICE& v);
    virtual bool do_visit(const OpenData& v);
    virtual bool do_visit(const GeneralizedTime& v);
    virtual bool do_visit(const SEQUENCE_OF_Base& v);
    virtual bool preVisitExtensionRoots(const SEQUENCE& seq);
    virtual bool visitExtensionRoot(const SEQUENCE& seq, int index);
    virtual bool preVisitExtensions(const SEQUENCE& seq);
    virtual bool visitKnownExtension(const SEQUENCE& seq, int index);
    virtual bool afterVisitSequence(const SEQUENCE& seq);

    // The SEQUENCE driver (walkSequence); a coder overrides it only to have the hooks called
    // directly.
    virtual bool visit(const SEQUENCE& seq);
};

}  // namespace ASN1

// The value kinds that every coder and checker handles itself, declared by one line in each
// so that the lists cannot drift apart: a kind added to an interface above joins every visitor
// at once, where a ConstVisitor that missed it would silently fall back to its default. The
// SEQUENCE hooks, which differ from visitor to visitor, stay written out in each.
#define VX_ASN1_VISITOR_OVERRIDES                       \
    bool do_visit(Null& v) override;                    \
    bool do_visit(BOOLEAN& v) override;                 \
    bool do_visit(INTEGER& v) override;                 \
    bool do_visit(ENUMERATED& v) override;              \
    bool do_visit(OBJECT_IDENTIFIER& v) override;       \
    bool do_visit(OCTET_STRING& v) override;            \
    bool do_visit(BIT_STRING& v) override;              \
    bool do_visit(AbstractString& v) override;          \
    bool do_visit(BMPString& v) override;               \
    bool do_visit(CHOICE& v) override;                  \
    bool do_visit(SEQUENCE_OF_Base& v) override;        \
    bool do_visit(OpenData& v) override;                \
    bool do_revisit(OpenData& v) override;              \
    bool do_visit(TypeConstrainedOpenData& v) override; \
    bool do_visit(GeneralizedTime& v) override

#define VX_ASN1_CONST_VISITOR_OVERRIDES                 \
    bool do_visit(const Null& v) override;              \
    bool do_visit(const BOOLEAN& v) override;           \
    bool do_visit(const INTEGER& v) override;           \
    bool do_visit(const ENUMERATED& v) override;        \
    bool do_visit(const OBJECT_IDENTIFIER& v) override; \
    bool do_visit(const BIT_STRING& v) override;        \
    bool do_visit(const OCTET_STRING& v) override;      \
    bool do_visit(const AbstractString& v) override;    \
    bool do_visit(const BMPString& v) override;         \
    bool do_visit(const CHOICE& v) override;            \
    bool do_visit(const OpenData& v) override;          \
    bool do_visit(const GeneralizedTime& v) override;   \
    bool do_visit(const SEQUENCE_OF_Base& v) override
