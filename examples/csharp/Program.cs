// VantrelFB from C#: post a status, upload a photo, sign in, and say what each
// call did (vfb_last_call: the HTTP status, whether the answer was stored, why
// a call failed).
//
//   mcs Program.cs                      (Debian: mono-mcs; any C# compiler will do)
//   mono Program.exe status ACCESS_TOKEN "message" [answer.json]
//   mono Program.exe photo ACCESS_TOKEN photo.jpg "caption" [answer.json]
//   mono Program.exe signin
//
// The exports are plain C functions taking UTF-16 strings, which is what
// CharSet.Unicode passes on every platform. As with the C examples, whatever
// the service answers lands byte for byte in the answer file; result 999 only
// says the exchange ran to its end (an expired token's error arrives there too).
//
// Finding the library: Mono maps "vantrelfb" to libvantrelfb.so.1 through
// Program.exe.config (keep it next to Program.exe), so the runtime package
// alone is enough; the loader looks where it always does (the system's
// directories, LD_LIBRARY_PATH). On Windows the name finds VantrelFB.dll.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

static class VantrelFB
{
    const string Library = "vantrelfb";

    public const int Done = 999;

    // Cdecl: the header declares no other convention, and 32-bit Windows
    // would otherwise assume stdcall.
    [DllImport(Library, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Cdecl)]
    public static extern int FaceBookStatus(string message, string accessToken, string targetId,
                                            string extraText, string outputPath);

    [DllImport(Library, CharSet = CharSet.Unicode, CallingConvention = CallingConvention.Cdecl)]
    public static extern int FaceBookPictureUpload(string mediaPath, string targetId, string message,
                                                   string accessToken, string outputPath);

    // IntPtr, not string: the marshaller frees a returned string, and this
    // text belongs to the library (valid until this thread's next call).
    [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr FaceBookTokenGraph();

    // The header's vfb_call_info, field for field. Sequential layout pads the
    // 64-bit counters to 8 bytes as the C compilers of every target do (the
    // nine 32-bit fields before them leave 4 bytes of padding).
    [StructLayout(LayoutKind.Sequential)]
    public struct CallInfo
    {
        public uint Size;
        public int Result;
        public int HttpStatus;      // 0 when no answer arrived
        public int Stored;          // 1: the output file holds the whole body that arrived
        public int StoredErrno;
        public int Failure;         // vfb_failure: 0 none, 1 input, ... 13 cancelled, 14 output file
        public int Argument;
        public uint Limit;
        public int Reused;
        public ulong BytesSent;
        public ulong BytesReceived;
        public ulong ElapsedMs;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 512)]
        public byte[] Message;      // UTF-8, NUL-terminated
    }

    [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
    static extern int vfb_last_call(ref CallInfo info);

    // A static UTF-8 text of the library's: read, never freed.
    [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
    static extern IntPtr vfb_result_meaning(int code);

    // What this thread's last call did.
    public static CallInfo LastCall()
    {
        var info = new CallInfo { Message = new byte[512] };
        info.Size = (uint)Marshal.SizeOf(typeof(CallInfo));
        if (vfb_last_call(ref info) != 0) throw new InvalidOperationException("vfb_last_call refused the record");
        return info;
    }

    public static string Message(CallInfo info)
    {
        int length = Array.IndexOf(info.Message, (byte)0);
        return Encoding.UTF8.GetString(info.Message, 0, length < 0 ? info.Message.Length : length);
    }

    public static string Meaning(int code)
    {
        IntPtr text = vfb_result_meaning(code);
        int length = 0;
        while (Marshal.ReadByte(text, length) != 0) length++;
        var bytes = new byte[length];
        Marshal.Copy(text, bytes, 0, length);
        return Encoding.UTF8.GetString(bytes);
    }

    // The dialog's Location, or an empty string when there is none.
    public static string SignIn()
    {
        return Marshal.PtrToStringUni(FaceBookTokenGraph()) ?? "";
    }
}

static class Program
{
    static int Usage()
    {
        Console.Error.WriteLine("usage: Program.exe status ACCESS_TOKEN MESSAGE [ANSWER_FILE]\n" +
                                "       Program.exe photo ACCESS_TOKEN PHOTO.jpg CAPTION [ANSWER_FILE]\n" +
                                "       Program.exe signin");
        return 2;
    }

    // Prints the result and what the call did and, when the answer was stored, the answer.
    static int Report(int rc, string answer)
    {
        VantrelFB.CallInfo info = VantrelFB.LastCall();
        Console.WriteLine("result {0}: {1}", rc, VantrelFB.Meaning(rc));
        Console.WriteLine("detail: http {0}, stored {1}, failure {2}, {3} bytes sent, {4} received, {5} ms{6}",
                          info.HttpStatus, info.Stored, info.Failure, info.BytesSent, info.BytesReceived,
                          info.ElapsedMs, info.Failure != 0 ? ": " + VantrelFB.Message(info) : "");
        // 999 with nothing stored: the service acted, but its answer is lost.
        if (rc != VantrelFB.Done || info.Stored == 0) return 1;
        // A form post keeps at most 1998 bytes; an upload's answer is small too.
        Console.WriteLine("answer: {0}", File.ReadAllText(answer, Encoding.UTF8));
        return 0;
    }

    static int Main(string[] args)
    {
        if (args.Length == 1 && args[0] == "signin") {
            string location = VantrelFB.SignIn();
            if (location.Length == 0) {
                Console.Error.WriteLine("no Location: the sign-in request failed");
                return 1;
            }
            Console.WriteLine(location);
            return 0;
        }
        if (args.Length >= 3 && args.Length <= 4 && args[0] == "status") {
            string answer = args.Length > 3 ? args[3] : "answer.json";
            // "me" posts to the token owner's own feed; the extra text is ignored (null is an empty text).
            return Report(VantrelFB.FaceBookStatus(args[2], args[1], "me", null, answer), answer);
        }
        if (args.Length >= 4 && args.Length <= 5 && args[0] == "photo") {
            string answer = args.Length > 4 ? args[4] : "photo.json";
            return Report(VantrelFB.FaceBookPictureUpload(args[2], "me", args[3], args[1], answer), answer);
        }
        return Usage();
    }
}
