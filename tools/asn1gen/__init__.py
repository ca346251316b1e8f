"""Generator of the ASN.1 type tables: parses module text, checks it, writes C++ or ASN.1."""
