/* tinseldec: XM modules in GStreamer pipelines, played by libtinsel.
 *
 * A module cannot be played from a part of it, so the element takes the
 * whole file from upstream (up to the library's 256 MB) and loads it when
 * upstream ends; a task on the source pad then renders it in blocks of
 * interleaved stereo, S16LE (the renderer's samples) or F32LE, at the rate
 * downstream takes, 44100 where it leaves the choice.
 *
 * Seeks in time land where tinsel_seek_time() lands: at the start of the row
 * playing at the time asked for. The new segment starts there, so a
 * player's position shows where the song really goes on.
 *
 * The player is shared between the streaming task, property changes and
 * queries from the application: `lock` guards it and the settings. */
#include <gst/audio/audio.h>
#include <gst/base/gstadapter.h>
#include <gst/gst.h>
#include <string.h>
#include <tinsel.h>

GST_DEBUG_CATEGORY_STATIC(tinsel_dec_debug);
#define GST_CAT_DEFAULT tinsel_dec_debug

/* Above playbin's choice among the other module decoders Debian ships (the
 * higher of them at PRIMARY + 2). */
#define TINSEL_DEC_RANK (GST_RANK_PRIMARY + 3)
/* tinsel_load_file() refuses larger files as no module; so does the element. */
#define TINSEL_DEC_MAX_BYTES (256u << 20)
#define TINSEL_DEC_BLOCK_FRAMES 1024

#define GST_TYPE_TINSEL_DEC (gst_tinsel_dec_get_type())
G_DECLARE_FINAL_TYPE(GstTinselDec, gst_tinsel_dec, GST, TINSEL_DEC, GstElement)

struct _GstTinselDec {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    GstAdapter* adapter; /* the file as it arrives */

    GMutex lock;
    tinsel_player* player; /* from the load on; NULL before */
    tinsel_facts facts;
    GstAudioInfo info;
    gint64 frame;      /* of the song's time line, the next one to push */
    gint64 stop_frame; /* the seek's stop, -1 for none */
    gboolean need_segment, need_tags, discont;
    gboolean past_end;   /* a seek went past the song's end: nothing more to play */
    guint32 seek_seqnum; /* GST_SEQNUM_INVALID before a seek */

    /* Settings, kept here as well: the library answers none of them back. */
    gint interpolation, amplification, rules, repeat_count, stereo_separation, subsong;
};

G_DEFINE_TYPE(GstTinselDec, gst_tinsel_dec, GST_TYPE_ELEMENT)

enum {
    PROP_0,
    PROP_INTERPOLATION,
    PROP_AMPLIFICATION,
    PROP_RULES,
    PROP_REPEAT_COUNT,
    PROP_STEREO_SEPARATION,
    PROP_SUBSONG
};

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-mod, type = (string) { xm, mod }"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) { S16LE, F32LE }, rate = (int) [ 8000, 192000 ], "
                    "channels = (int) 2, layout = (string) interleaved"));

#define GST_TYPE_TINSEL_INTERPOLATION (gst_tinsel_interpolation_get_type())
static GType gst_tinsel_interpolation_get_type(void) {
    static GType type = 0;
    static const GEnumValue values[] = {
        {TINSEL_INTERP_LINEAR, "Linear: each rule set's own mixing", "linear"},
        {TINSEL_INTERP_NEAREST, "Nearest sample entry", "nearest"},
        {TINSEL_INTERP_CUBIC, "Cubic spline", "cubic"},
        {TINSEL_INTERP_SINC, "Windowed sinc", "sinc"},
        {0, NULL, NULL}};
    if (g_once_init_enter(&type))
        g_once_init_leave(&type, g_enum_register_static("GstTinselInterpolation", values));
    return type;
}

#define GST_TYPE_TINSEL_RULES (gst_tinsel_rules_get_type())
static GType gst_tinsel_rules_get_type(void) {
    static GType type = 0;
    static const GEnumValue values[] = {
        {TINSEL_RULES_SONG, "The song's own: tinsel for songs by songc, else FT2", "song"},
        {TINSEL_RULES_TINSEL, "Tinsel's small effect set", "tinsel"},
        {TINSEL_RULES_FT2, "Every effect of the original tracker", "ft2"},
        {0, NULL, NULL}};
    if (g_once_init_enter(&type))
        g_once_init_leave(&type, g_enum_register_static("GstTinselRules", values));
    return type;
}

/* Frames of the whole play at the current repeat count, -1 where it never
 * ends or the song's length is not known. Called with the lock held. */
static gint64 song_frames(GstTinselDec* dec) {
    const tinsel_facts* f = &dec->facts;
    if (dec->player == NULL || !f->length_exact)
        return -1;
    if (f->loop_frames == 0 || dec->repeat_count == 1)
        return f->length_frames;
    if (dec->repeat_count == 0)
        return -1;
    return f->length_frames + (gint64)(dec->repeat_count - 1) * f->loop_frames;
}

static GstClockTime frames_to_time(const GstTinselDec* dec, gint64 frames) {
    return gst_util_uint64_scale_int((guint64)frames, GST_SECOND, GST_AUDIO_INFO_RATE(&dec->info));
}

/* The caps downstream takes: its first choice, with the rate nearest 44100
 * and S16LE where it leaves those open. */
static gboolean negotiate(GstTinselDec* dec) {
    GstCaps* templ = gst_pad_get_pad_template_caps(dec->srcpad);
    GstCaps* caps = gst_pad_peer_query_caps(dec->srcpad, templ);
    gst_caps_unref(templ);
    if (gst_caps_is_empty(caps)) {
        gst_caps_unref(caps);
        return FALSE;
    }
    caps = gst_caps_truncate(caps);
    caps = gst_caps_make_writable(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "rate", 44100);
    gst_structure_fixate_field_string(s, "format", "S16LE");
    caps = gst_caps_fixate(caps);
    gboolean ok = gst_audio_info_from_caps(&dec->info, caps);
    if (ok)
        ok = gst_pad_set_caps(dec->srcpad, caps);
    gst_caps_unref(caps);
    return ok;
}

/* Applies the settings the library takes while playing. Lock held. */
static void apply_live_settings(GstTinselDec* dec) {
    if (dec->player == NULL)
        return;
    tinsel_set_interpolation(dec->player, dec->interpolation);
    tinsel_set_amplification(dec->player, dec->amplification);
    tinsel_set_repeat_count(dec->player, dec->repeat_count);
    tinsel_set_stereo_separation(dec->player, dec->stereo_separation);
}

static void post_load_error(GstTinselDec* dec, int code, const char* report) {
    /* The code's text says what kind of file it is, the loader's report what it found wrong. */
    const char* kind = tinsel_error(code);
    if (g_str_has_prefix(report, "refused: "))
        report += strlen("refused: ");
    gchar* text = report[0] == '\0'                ? g_strdup(kind)
                  : g_str_has_prefix(report, kind) ? g_strdup(report)
                                                   : g_strdup_printf("%s: %s", kind, report);
    g_strchomp(text);
    if (code == TINSEL_ERROR_NOT_XM)
        GST_ELEMENT_ERROR(dec, STREAM, WRONG_TYPE, ("%s", text), (NULL));
    else if (code == TINSEL_ERROR_MEMORY)
        GST_ELEMENT_ERROR(dec, RESOURCE, NO_SPACE_LEFT, ("%s", text), (NULL));
    else
        GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("%s", text), (NULL));
    g_free(text);
}

static void loop(gpointer data);

/* Upstream has ended: the file is whole. Negotiates, loads and starts playing. */
static gboolean start_song(GstTinselDec* dec) {
    const gsize size = gst_adapter_available(dec->adapter);
    if (!negotiate(dec)) {
        GST_ELEMENT_ERROR(dec, CORE, NEGOTIATION, ("downstream takes no stereo S16LE or F32LE audio"),
                          (NULL));
        return FALSE;
    }
    tinsel_player* player = tinsel_new(GST_AUDIO_INFO_RATE(&dec->info));
    if (player == NULL) {
        GST_ELEMENT_ERROR(dec, RESOURCE, NO_SPACE_LEFT, ("%s", tinsel_error(TINSEL_ERROR_MEMORY)), (NULL));
        return FALSE;
    }
    g_mutex_lock(&dec->lock);
    tinsel_set_rules(player, dec->rules);
    /* The library keeps a copy of its own. */
    const void* image = size > 0 ? gst_adapter_map(dec->adapter, size) : NULL;
    int result = tinsel_load(player, image, size);
    if (image != NULL)
        gst_adapter_unmap(dec->adapter);
    gst_adapter_clear(dec->adapter);
    if (result == TINSEL_OK && dec->subsong > 0 && tinsel_select_subsong(player, dec->subsong) != TINSEL_OK) {
        const int count = tinsel_subsong_count(player);
        g_mutex_unlock(&dec->lock);
        GST_ELEMENT_ERROR(dec, STREAM, DECODE,
                          ("the song has %d subsong%s: subsong %d is not one of them", count,
                           count == 1 ? "" : "s", dec->subsong),
                          (NULL));
        tinsel_free(player);
        return FALSE;
    }
    if (result == TINSEL_OK)
        result = tinsel_get_facts(player, &dec->facts);
    if (result != TINSEL_OK) {
        g_mutex_unlock(&dec->lock);
        post_load_error(dec, result, tinsel_load_report(player));
        tinsel_free(player);
        return FALSE;
    }
    dec->player = player;
    apply_live_settings(dec);
    dec->frame = 0;
    dec->stop_frame = -1;
    dec->past_end = FALSE;
    dec->need_segment = dec->need_tags = dec->discont = TRUE;
    g_mutex_unlock(&dec->lock);
    return gst_pad_start_task(dec->srcpad, loop, dec, NULL);
}

static void push_segment(GstTinselDec* dec, gint64 frame, gint64 stop_frame, guint32 seqnum) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.start = segment.time = segment.position = frames_to_time(dec, frame);
    if (stop_frame >= 0)
        segment.stop = frames_to_time(dec, stop_frame);
    GstEvent* event = gst_event_new_segment(&segment);
    if (seqnum != GST_SEQNUM_INVALID)
        gst_event_set_seqnum(event, seqnum);
    gst_pad_push_event(dec->srcpad, event);
}

static void push_tags(GstTinselDec* dec, gint64 total) {
    GstTagList* tags = gst_tag_list_new(GST_TAG_AUDIO_CODEC, "Extended Module (XM)", NULL);
    if (dec->facts.title[0] != '\0')
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, dec->facts.title, NULL);
    if (dec->facts.tracker[0] != '\0')
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_ENCODER, dec->facts.tracker, NULL);
    if (total >= 0)
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_DURATION, frames_to_time(dec, total), NULL);
    gst_pad_push_event(dec->srcpad, gst_event_new_tag(tags));
}

static void end_stream(GstTinselDec* dec, guint32 seqnum) {
    GstEvent* eos = gst_event_new_eos();
    if (seqnum != GST_SEQNUM_INVALID)
        gst_event_set_seqnum(eos, seqnum);
    gst_pad_push_event(dec->srcpad, eos);
    gst_pad_pause_task(dec->srcpad);
}

/* The streaming task: one block a turn, until the song or the seek's stop ends. */
static void loop(gpointer data) {
    GstTinselDec* dec = GST_TINSEL_DEC(data);
    const gint bpf = GST_AUDIO_INFO_BPF(&dec->info);

    g_mutex_lock(&dec->lock);
    const gboolean need_segment = dec->need_segment, need_tags = dec->need_tags;
    const gint64 start = dec->frame, stop = dec->stop_frame, total = song_frames(dec);
    const guint32 seqnum = dec->seek_seqnum;
    const gboolean past_end = dec->past_end;
    dec->need_segment = dec->need_tags = FALSE;
    g_mutex_unlock(&dec->lock);
    if (need_segment)
        push_segment(dec, start, stop, seqnum);
    if (need_tags)
        push_tags(dec, total);

    gint frames = TINSEL_DEC_BLOCK_FRAMES;
    if (stop >= 0 && stop - start < frames)
        frames = (gint)MAX(stop - start, 0);
    if (frames == 0 || past_end) {
        end_stream(dec, seqnum);
        return;
    }
    GstBuffer* buffer = gst_buffer_new_allocate(NULL, (gsize)frames * bpf, NULL);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    g_mutex_lock(&dec->lock);
    const int rendered = GST_AUDIO_INFO_FORMAT(&dec->info) == GST_AUDIO_FORMAT_F32LE
                             ? tinsel_render_f32(dec->player, (float*)map.data, frames)
                             : tinsel_render_s16(dec->player, (int16_t*)map.data, frames);
    const gboolean discont = dec->discont;
    if (rendered > 0) {
        dec->frame += rendered;
        dec->discont = FALSE;
    }
    g_mutex_unlock(&dec->lock);
    gst_buffer_unmap(buffer, &map);
    if (rendered < 0) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("%s", tinsel_error(rendered)), (NULL));
        end_stream(dec, seqnum);
        return;
    }
    if (rendered == 0) {
        gst_buffer_unref(buffer);
        end_stream(dec, seqnum);
        return;
    }
    gst_buffer_set_size(buffer, (gssize)rendered * bpf);
    GST_BUFFER_OFFSET(buffer) = (guint64)start;
    GST_BUFFER_OFFSET_END(buffer) = (guint64)(start + rendered);
    GST_BUFFER_PTS(buffer) = frames_to_time(dec, start);
    GST_BUFFER_DURATION(buffer) = frames_to_time(dec, start + rendered) - GST_BUFFER_PTS(buffer);
    if (discont)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    const GstFlowReturn ret = gst_pad_push(dec->srcpad, buffer);
    if (ret == GST_FLOW_FLUSHING) {
        gst_pad_pause_task(dec->srcpad);
        return;
    }
    if (ret == GST_FLOW_EOS) {
        end_stream(dec, seqnum);
        return;
    }
    if (ret != GST_FLOW_OK) {
        GST_ELEMENT_FLOW_ERROR(dec, ret);
        end_stream(dec, seqnum);
        return;
    }
    if (rendered < frames)
        end_stream(dec, seqnum);
}

static gboolean sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstTinselDec* dec = GST_TINSEL_DEC(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS: {
        gst_event_unref(event);
        g_mutex_lock(&dec->lock);
        const gboolean loaded = dec->player != NULL;
        g_mutex_unlock(&dec->lock);
        return loaded || start_song(dec);
    }
    case GST_EVENT_FLUSH_STOP:
        gst_adapter_clear(dec->adapter);
        return gst_pad_event_default(pad, parent, event);
    /* The file's caps, segment and tags are the bytes'; the audio gets its own. */
    case GST_EVENT_CAPS:
    case GST_EVENT_SEGMENT:
    case GST_EVENT_TAG:
        gst_event_unref(event);
        return TRUE;
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

static GstFlowReturn sink_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    (void)pad;
    GstTinselDec* dec = GST_TINSEL_DEC(parent);
    if (dec->player != NULL) {
        gst_buffer_unref(buffer);
        return GST_FLOW_EOS;
    }
    if (gst_adapter_available(dec->adapter) + gst_buffer_get_size(buffer) > TINSEL_DEC_MAX_BYTES) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(dec, STREAM, WRONG_TYPE,
                          ("%s: larger than 256 MB", tinsel_error(TINSEL_ERROR_NOT_XM)), (NULL));
        return GST_FLOW_ERROR;
    }
    gst_adapter_push(dec->adapter, buffer);
    return GST_FLOW_OK;
}

static gboolean do_seek(GstTinselDec* dec, GstEvent* event) {
    gdouble rate;
    GstFormat format;
    GstSeekFlags flags;
    GstSeekType start_type, stop_type;
    gint64 start, stop;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    if (format != GST_FORMAT_TIME || rate != 1.0) {
        GST_DEBUG_OBJECT(dec, "only seeks in time at the normal rate");
        return FALSE;
    }
    g_mutex_lock(&dec->lock);
    const gboolean loaded = dec->player != NULL;
    g_mutex_unlock(&dec->lock);
    if (!loaded)
        return FALSE;

    const gboolean flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
    const guint32 seqnum = gst_event_get_seqnum(event);
    if (flush) {
        GstEvent* flush_start = gst_event_new_flush_start();
        gst_event_set_seqnum(flush_start, seqnum);
        gst_pad_push_event(dec->srcpad, flush_start);
    } else {
        gst_pad_pause_task(dec->srcpad);
    }
    GST_PAD_STREAM_LOCK(dec->srcpad);
    g_mutex_lock(&dec->lock);
    const gint rate_hz = GST_AUDIO_INFO_RATE(&dec->info);
    gboolean ok = TRUE;
    if (start_type == GST_SEEK_TYPE_SET && GST_CLOCK_TIME_IS_VALID(start)) {
        const int result = tinsel_seek_time(dec->player, (double)start / GST_SECOND);
        tinsel_position position;
        ok = result == TINSEL_OK && tinsel_get_position(dec->player, &position) == TINSEL_OK;
        const gint64 total = song_frames(dec);
        dec->past_end = result == TINSEL_ERROR_POSITION && total >= 0;
        if (ok) {
            dec->frame = position.frame;
        } else if (dec->past_end) {
            /* As other decoders answer a seek past the end: an end of stream there. */
            dec->frame = total;
            ok = TRUE;
        } else {
            GST_DEBUG_OBJECT(dec, "seek to %" GST_TIME_FORMAT ": %s", GST_TIME_ARGS(start),
                             tinsel_error(result));
        }
    }
    if (ok && stop_type == GST_SEEK_TYPE_SET)
        dec->stop_frame = GST_CLOCK_TIME_IS_VALID(stop)
                              ? (gint64)gst_util_uint64_scale_int((guint64)stop, rate_hz, GST_SECOND)
                              : -1;
    /* After a flush the stream goes on with a segment, even where the seek failed. */
    if (ok || flush) {
        dec->need_segment = TRUE;
        dec->discont = TRUE;
        dec->seek_seqnum = seqnum;
    }
    g_mutex_unlock(&dec->lock);
    if (flush) {
        GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flush_stop, seqnum);
        gst_pad_push_event(dec->srcpad, flush_stop);
    }
    gst_pad_start_task(dec->srcpad, loop, dec, NULL);
    GST_PAD_STREAM_UNLOCK(dec->srcpad);
    return ok;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstTinselDec* dec = GST_TINSEL_DEC(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        const gboolean ok = do_seek(dec, event);
        gst_event_unref(event);
        return ok;
    }
    /* Upstream has handed on the whole file: no other event is for it. */
    (void)pad;
    gst_event_unref(event);
    return FALSE;
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    GstTinselDec* dec = GST_TINSEL_DEC(parent);
    GstFormat format;
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
        gst_query_parse_duration(query, &format, NULL);
        g_mutex_lock(&dec->lock);
        const gint64 total = song_frames(dec);
        g_mutex_unlock(&dec->lock);
        if (format != GST_FORMAT_TIME || total < 0)
            return FALSE;
        gst_query_set_duration(query, GST_FORMAT_TIME, (gint64)frames_to_time(dec, total));
        return TRUE;
    }
    case GST_QUERY_POSITION: {
        gst_query_parse_position(query, &format, NULL);
        g_mutex_lock(&dec->lock);
        const gboolean loaded = dec->player != NULL;
        const gint64 frame = dec->frame;
        g_mutex_unlock(&dec->lock);
        if (format != GST_FORMAT_TIME || !loaded)
            return FALSE;
        gst_query_set_position(query, GST_FORMAT_TIME, (gint64)frames_to_time(dec, frame));
        return TRUE;
    }
    case GST_QUERY_SEEKING: {
        gst_query_parse_seeking(query, &format, NULL, NULL, NULL);
        g_mutex_lock(&dec->lock);
        const gboolean loaded = dec->player != NULL;
        const gint64 total = song_frames(dec);
        g_mutex_unlock(&dec->lock);
        if (format != GST_FORMAT_TIME)
            return FALSE;
        gst_query_set_seeking(query, GST_FORMAT_TIME, loaded, 0,
                              total >= 0 ? (gint64)frames_to_time(dec, total) : -1);
        return TRUE;
    }
    default:
        return gst_pad_query_default(pad, parent, query);
    }
}

static void reset(GstTinselDec* dec) {
    gst_adapter_clear(dec->adapter);
    g_mutex_lock(&dec->lock);
    tinsel_free(dec->player);
    dec->player = NULL;
    memset(&dec->facts, 0, sizeof dec->facts);
    gst_audio_info_init(&dec->info);
    dec->frame = 0;
    dec->stop_frame = -1;
    dec->seek_seqnum = GST_SEQNUM_INVALID;
    g_mutex_unlock(&dec->lock);
}

static GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
    GstTinselDec* dec = GST_TINSEL_DEC(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED)
        reset(dec);
    const GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(gst_tinsel_dec_parent_class)->change_state(element, transition);
    /* The pads are inactive by now, their task stopped. */
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        reset(dec);
    return ret;
}

static void set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstTinselDec* dec = GST_TINSEL_DEC(object);
    gboolean duration_changed = FALSE;
    g_mutex_lock(&dec->lock);
    switch (id) {
    case PROP_INTERPOLATION:
        dec->interpolation = g_value_get_enum(value);
        break;
    case PROP_AMPLIFICATION:
        dec->amplification = g_value_get_int(value);
        break;
    case PROP_RULES:
        dec->rules = g_value_get_enum(value);
        break;
    case PROP_REPEAT_COUNT:
        dec->repeat_count = g_value_get_int(value);
        duration_changed = dec->player != NULL;
        break;
    case PROP_STEREO_SEPARATION:
        dec->stereo_separation = g_value_get_int(value);
        break;
    case PROP_SUBSONG:
        dec->subsong = g_value_get_int(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    apply_live_settings(dec);
    g_mutex_unlock(&dec->lock);
    if (duration_changed)
        gst_element_post_message(GST_ELEMENT(dec), gst_message_new_duration_changed(GST_OBJECT(dec)));
}

static void get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstTinselDec* dec = GST_TINSEL_DEC(object);
    g_mutex_lock(&dec->lock);
    switch (id) {
    case PROP_INTERPOLATION:
        g_value_set_enum(value, dec->interpolation);
        break;
    case PROP_AMPLIFICATION:
        g_value_set_int(value, dec->amplification);
        break;
    case PROP_RULES:
        g_value_set_enum(value, dec->rules);
        break;
    case PROP_REPEAT_COUNT:
        g_value_set_int(value, dec->repeat_count);
        break;
    case PROP_STEREO_SEPARATION:
        g_value_set_int(value, dec->stereo_separation);
        break;
    case PROP_SUBSONG:
        g_value_set_int(value, dec->subsong);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
    g_mutex_unlock(&dec->lock);
}

static void finalize(GObject* object) {
    GstTinselDec* dec = GST_TINSEL_DEC(object);
    tinsel_free(dec->player);
    g_object_unref(dec->adapter);
    g_mutex_clear(&dec->lock);
    G_OBJECT_CLASS(gst_tinsel_dec_parent_class)->finalize(object);
}

static void gst_tinsel_dec_class_init(GstTinselDecClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    object_class->set_property = set_property;
    object_class->get_property = get_property;
    object_class->finalize = finalize;
    element_class->change_state = change_state;

    const GParamFlags live = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING;
    g_object_class_install_property(
        object_class, PROP_INTERPOLATION,
        g_param_spec_enum("interpolation", "Interpolation", "How voices read their samples between entries",
                          GST_TYPE_TINSEL_INTERPOLATION, TINSEL_INTERP_LINEAR, live));
    g_object_class_install_property(
        object_class, PROP_AMPLIFICATION,
        g_param_spec_int("amplification", "Amplification",
                         "Amplification of songs played by FT2 rules, as the original tracker's",
                         TINSEL_MIN_AMPLIFICATION, TINSEL_MAX_AMPLIFICATION, TINSEL_DEFAULT_AMPLIFICATION,
                         live));
    g_object_class_install_property(
        object_class, PROP_RULES,
        g_param_spec_enum("rules", "Rules", "The rule set songs play by (applies to the next file)",
                          GST_TYPE_TINSEL_RULES, TINSEL_RULES_SONG,
                          G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_REPEAT_COUNT,
        g_param_spec_int("repeat-count", "Repeat count",
                         "Passes through the song, the later ones from where it loops to; 0 plays forever", 0,
                         TINSEL_MAX_REPEATS, 1, live));
    g_object_class_install_property(
        object_class, PROP_STEREO_SEPARATION,
        g_param_spec_int(
            "stereo-separation", "Stereo separation",
            "Width of the stereo image in percent: 0 mono, 100 as the song pans, 200 sides doubled", 0, 200,
            100, live));
    g_object_class_install_property(
        object_class, PROP_SUBSONG,
        g_param_spec_int("subsong", "Subsong",
                         "Which of the song's tunes to play, from 0 (applies to the next file)", 0, 255, 0,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "Tinsel XM module decoder", "Codec/Decoder/Audio",
                                          "Plays XM modules through libtinsel", "the Tinselbay developers");
    gst_type_mark_as_plugin_api(GST_TYPE_TINSEL_INTERPOLATION, 0);
    gst_type_mark_as_plugin_api(GST_TYPE_TINSEL_RULES, 0);
}

static void gst_tinsel_dec_init(GstTinselDec* dec) {
    dec->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_event_function(dec->sinkpad, sink_event);
    gst_pad_set_chain_function(dec->sinkpad, sink_chain);
    gst_element_add_pad(GST_ELEMENT(dec), dec->sinkpad);
    dec->srcpad = gst_pad_new_from_static_template(&src_template, "src");
    gst_pad_set_event_function(dec->srcpad, src_event);
    gst_pad_set_query_function(dec->srcpad, src_query);
    gst_pad_use_fixed_caps(dec->srcpad);
    gst_element_add_pad(GST_ELEMENT(dec), dec->srcpad);

    dec->adapter = gst_adapter_new();
    g_mutex_init(&dec->lock);
    gst_audio_info_init(&dec->info);
    dec->stop_frame = -1;
    dec->seek_seqnum = GST_SEQNUM_INVALID;
    dec->interpolation = TINSEL_INTERP_LINEAR;
    dec->amplification = TINSEL_DEFAULT_AMPLIFICATION;
    dec->rules = TINSEL_RULES_SONG;
    dec->repeat_count = 1;
    dec->stereo_separation = 100;
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(tinsel_dec_debug, "tinseldec", 0, "XM modules through libtinsel");
    /* A library older than the header the element was built with lacks calls it makes. */
    if (tinsel_version() >> 16 != TINSEL_VERSION_MAJOR || tinsel_version() < TINSEL_VERSION) {
        GST_WARNING("libtinsel %x is older than the %x the element was built for", tinsel_version(),
                    TINSEL_VERSION);
        return FALSE;
    }
    return gst_element_register(plugin, "tinseldec", TINSEL_DEC_RANK, GST_TYPE_TINSEL_DEC);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tinsel, "XM modules played by libtinsel", plugin_init,
                  TINSEL_GST_VERSION, "MIT/X11", "Tinselbay", "Tinselbay")
