// NativeMethods: the library's glove calls as the runtime binds them, the handle that closes a
// glove when it is released, and the library's status structure.
//
// "Chirolink" resolves to Chirolink.dll on Windows and libChirolink.so elsewhere; Mono reads
// the dllmap in Chirolink.Net.dll.config, which names the runtime package's libChirolink.so.1.
using System;
using System.Runtime.InteropServices;
using Microsoft.Win32.SafeHandles;

namespace Chirolink
{
    internal static class NativeMethods
    {
        internal const string Library = "Chirolink";

        internal const int Ok = 0;
        internal const int ErrTimeout = -7;

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_open([MarshalAs(UnmanagedType.LPStr)] string port,
                                                  out GloveHandle glove);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void chirolink_close(IntPtr glove);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_next_frame(GloveHandle glove, out Frame frame,
                                                        int timeoutMs);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_latest_frame(GloveHandle glove, out Frame frame);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_get_status(GloveHandle glove, out RawStatus status);

        // A calibration is passed as its 16 bytes (chirolink_calibration): a byte array is pinned,
        // not copied, so applying one allocates nothing.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_calibration_load([MarshalAs(UnmanagedType.LPStr)] string path,
                                                              [Out] byte[] calibration,
                                                              [Out] byte[] message, int messageSize);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_calibration_save([MarshalAs(UnmanagedType.LPStr)] string path,
                                                              [In] byte[] calibration);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int chirolink_calibrate([In] byte[] calibration, ref Frame frame,
                                                       [Out] float[] values);

        // Static strings of the library: read, never freed, so not declared as string.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr chirolink_error_text(int result);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr chirolink_version();

        internal static string ErrorText(int result)
        {
            return Marshal.PtrToStringAnsi(chirolink_error_text(result));
        }
    }

    // A glove handle of chirolink_open. Released (closed) by Glove.Dispose once no call is
    // inside, or by its finalizer when its Glove was dropped undisposed.
    internal sealed class GloveHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        private GloveHandle() : base(true)
        {
        }

        protected override bool ReleaseHandle()
        {
            NativeMethods.chirolink_close(handle);
            return true;
        }
    }

    // chirolink_status, its reserved field included, so that the 32-bit layout matches too.
    [StructLayout(LayoutKind.Sequential)]
    internal struct RawStatus
    {
        internal int State;
        internal int Reserved;
        internal ulong Frames, BadChecksums, LostReplies, Reopens, Missed;
        internal double LastFrameAgeSeconds;
    }
}
