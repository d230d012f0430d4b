// ChirolinkException: a glove that could not be opened or read, or a file the library could
// not use, with the library's result and its text.
using System;

namespace Chirolink
{
    public sealed class ChirolinkException : Exception
    {
        internal ChirolinkException(int code, string reason, string port)
            : base(port == null ? reason : port + ": " + reason)
        {
            Code = code;
            Reason = reason;
            Port = port;
        }

        // The library's result: one of the negative CHIROLINK_ERR_* numbers.
        public int Code { get; }

        // Why, in words: "no such device", "port busy (held by another program or link)", ...
        public string Reason { get; }

        // The port (or file) as given; null when none was involved.
        public string Port { get; }

        internal static ChirolinkException From(int code, string port)
        {
            return new ChirolinkException(code, NativeMethods.ErrorText(code), port);
        }
    }
}
