// A dialog template shown as a GtkDialog: every control a GTK widget in a
// GtkFixed at its template rectangle, converted from dialog units with the
// template font's metrics, and drawn in that font so the layout holds.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "platform/dialog_internal.h"
#include "platform/resource.h"
#include "platform/x11/gtk_setup.h"

namespace {

enum class Kind { PushButton, CheckBox, GroupBox, Text, Picture, Slider };

Kind KindOf(const DialogItemTemplate& t) {
    if (t.className == kTrackbarClass) return Kind::Slider;
    if (t.className == kButtonClass) {
        switch (t.style & BS_TYPEMASK) {
        case BS_AUTOCHECKBOX: return Kind::CheckBox;
        case BS_GROUPBOX: return Kind::GroupBox;
        default: return Kind::PushButton;
        }
    }
    return (t.style & SS_TYPEMASK) == SS_BITMAP ? Kind::Picture : Kind::Text;
}

// "&x" marks a mnemonic and "&&" stands for '&'. With `gtkMarks` the marks
// become GTK's '_' (a literal '_' doubled), otherwise they are dropped.
std::string ConvertMnemonics(std::string_view text, bool gtkMarks) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            } else if (gtkMarks) {
                out += '_';
            }
        } else if (text[i] == '_' && gtkMarks) {
            out += "__";
        } else {
            out += text[i];
        }
    }
    return out;
}

// GTK shows UTF-8 only; a file name may hold other bytes.
std::string Displayable(const std::string& text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out = valid;
    g_free(valid);
    return out;
}

struct BaseUnits {
    int x, y;
};

// GDI's dialog base units for a font: the average width of the Latin
// letters, rounded, and the line height.
BaseUnits MeasureBaseUnits(GtkWidget* widget, const PangoFontDescription* font) {
    PangoContext* context = gtk_widget_create_pango_context(widget);
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
    int line = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    g_object_unref(layout);
    g_object_unref(context);
    return {(width / 26 + 1) / 2, line};
}

// Theme sizes are made for roomier layouts; a template's controls are sized
// for its font, so the widgets shed their extra padding.
std::string TemplateCss(const DialogTemplate& t, double fontPx) {
    char css[1024];
    std::snprintf(css, sizeof css,
                  "* { font-family: \"%.*s\", sans-serif; font-size: %.2fpx; font-weight: %d; font-style: %s; }\n"
                  "button { min-height: 0; min-width: 0; padding: 0 4px; }\n"
                  "checkbutton { padding: 0; min-height: 0; }\n"
                  "checkbutton check { min-width: 11px; min-height: 11px; margin: 0 4px 0 0; }\n"
                  "scale { padding: 0; margin: 0; min-height: 0; }\n"
                  "scale slider { min-width: 10px; min-height: 10px; margin: -4px; }\n",
                  static_cast<int>(t.fontName.size()), t.fontName.data(), fontPx, t.weight,
                  t.italic ? "italic" : "normal");
    return css;
}

void AddProvider(GtkWidget* widget, gpointer provider) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), AddProvider, provider);
}

GtkWidget* PictureWidget(int imageId) {
    auto bytes = LoadResourceBytes(ResourceType::Png, imageId);
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr) && gdk_pixbuf_loader_close(loader, nullptr))
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    else
        gdk_pixbuf_loader_close(loader, nullptr);
    GtkWidget* image = pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
    g_object_unref(loader);
    return image;
}

// The dialog procedure runs under GTK's C frames, which an exception must not cross.
template <class F>
void Guarded(F action) {
    try {
        action();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kaleidra: dialog: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kaleidra: dialog: unknown exception\n");
    }
}

class GtkDialogView final : public DialogView {
public:
    explicit GtkDialogView(DialogBox& box) : box_(box) { Build(); }

    ~GtkDialogView() override {
        closing_ = true;
        gtk_widget_destroy(dialog_);
        g_object_unref(dialog_);
        if (owner_) g_object_unref(owner_);
        g_object_unref(css_);
        gdk_display_flush(gdk_display_get_default());
    }

    void Show(const DialogItem* focus) override {
        gtk_widget_realize(dialog_);
        // The owner may belong to another program: GTK knows it only by its id.
        if (unsigned long xid = NativeWindowId(box_.owner)) {
            owner_ = ForeignGdkWindow(xid);
            if (owner_) gdk_window_set_transient_for(gtk_widget_get_window(dialog_), owner_);
        }
        if (focus) gtk_widget_grab_focus(widgets_[Index(*focus)]);
        gtk_window_present(GTK_WINDOW(dialog_));
    }

    void Update(const DialogItem& item) override {
        std::size_t i = Index(item);
        GtkWidget* widget = widgets_[i];
        updating_ = true;  // GTK reports programmatic changes as if the user made them
        switch (KindOf(*item.tmpl)) {
        case Kind::CheckBox:
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), item.checked);
            [[fallthrough]];
        case Kind::PushButton:
            gtk_label_set_text_with_mnemonic(GTK_LABEL(labels_[i]), ConvertMnemonics(item.text, true).c_str());
            break;
        case Kind::GroupBox: gtk_label_set_text(GTK_LABEL(labels_[i]), ConvertMnemonics(item.text, false).c_str()); break;
        // Static text shows as it stands: the folder line holds paths, where '&' is just a character.
        case Kind::Text: gtk_label_set_text(GTK_LABEL(widget), Displayable(item.text).c_str()); break;
        case Kind::Picture: break;
        case Kind::Slider: {
            double lo = item.rangeMin, hi = std::max(item.rangeMin, item.rangeMax);
            gtk_range_set_range(GTK_RANGE(widget), lo, hi);
            gtk_range_set_increments(GTK_RANGE(widget), 1, std::max(1.0, (hi - lo) / 5));
            gtk_range_set_value(GTK_RANGE(widget), item.pos);
            break;
        }
        }
        updating_ = false;
    }

    bool ChooseFolder(const std::string& title, std::string* path) override {
        GtkFileChooserNative* chooser =
            gtk_file_chooser_native_new(title.empty() ? "Select Folder" : title.c_str(), GTK_WINDOW(dialog_),
                                        GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, nullptr, nullptr);
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
        gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
        // The browser opens at the top of the user's own tree, as it opens at the desktop elsewhere.
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), g_get_home_dir());
        struct Outcome {
            bool done = false;
            gint response = GTK_RESPONSE_CANCEL;
        } outcome;
        auto onResponse = +[](GtkNativeDialog*, gint response, gpointer data) {
            auto* o = static_cast<Outcome*>(data);
            o->response = response;
            o->done = true;
            WakeModalLoop();
        };
        gulong handler = g_signal_connect(chooser, "response", G_CALLBACK(onResponse), &outcome);
        gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
        // The thread's messages keep flowing while the browser is open.
        if (!RunModalLoop(outcome.done)) gtk_native_dialog_hide(GTK_NATIVE_DIALOG(chooser));
        g_signal_handler_disconnect(chooser, handler);
        bool chosen = false;
        if (outcome.done && outcome.response == GTK_RESPONSE_ACCEPT) {
            if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
                *path = name;
                g_free(name);
                chosen = true;
            }
        }
        g_object_unref(chooser);
        // The keyboard comes back to the dialog, window manager or not.
        gdk_window_focus(gtk_widget_get_window(dialog_), GDK_CURRENT_TIME);
        return chosen;
    }

private:
    std::size_t Index(const DialogItem& item) const { return static_cast<std::size_t>(&item - box_.items.data()); }

    void Build() {
        const DialogTemplate& t = *box_.tmpl;
        dialog_ = GTK_WIDGET(g_object_ref(gtk_dialog_new()));  // held until the view goes, whoever destroys it
        gtk_window_set_title(GTK_WINDOW(dialog_), std::string(t.caption).c_str());
        gtk_window_set_resizable(GTK_WINDOW(dialog_), FALSE);
        gtk_window_set_position(GTK_WINDOW(dialog_), GTK_WIN_POS_CENTER);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_widget_hide(gtk_dialog_get_action_area(GTK_DIALOG(dialog_)));  // the template places its own buttons
        G_GNUC_END_IGNORE_DEPRECATIONS
        GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog_));
        gtk_container_set_border_width(GTK_CONTAINER(content), 0);
        GtkWidget* fixed = gtk_fixed_new();
        gtk_box_pack_start(GTK_BOX(content), fixed, TRUE, TRUE, 0);

        double dpi = gdk_screen_get_resolution(gtk_widget_get_screen(dialog_));
        double fontPx = t.pointSize * (dpi > 0 ? dpi : 96.0) / 72.0;
        PangoFontDescription* font = pango_font_description_new();
        pango_font_description_set_family(font, (std::string(t.fontName) + ",sans-serif").c_str());
        pango_font_description_set_absolute_size(font, fontPx * PANGO_SCALE);
        pango_font_description_set_weight(font, static_cast<PangoWeight>(t.weight));
        pango_font_description_set_style(font, t.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
        BaseUnits units = MeasureBaseUnits(dialog_, font);
        pango_font_description_free(font);
        auto px = [&](int dlu, bool vertical) { return MulDiv(dlu, vertical ? units.y : units.x, vertical ? 8 : 4); };
        gtk_widget_set_size_request(fixed, px(t.cx, false), px(t.cy, true));

        GList* focusChain = nullptr;
        for (const DialogItem& item : box_.items) {
            const DialogItemTemplate& it = *item.tmpl;
            GtkWidget* label = nullptr;
            GtkWidget* widget = MakeWidget(it, &label);
            widgets_.push_back(widget);
            labels_.push_back(label);
            gtk_fixed_put(GTK_FIXED(fixed), widget, px(it.x, false), px(it.y, true));
            // A picture control takes the size of its picture, as SS_BITMAP does.
            if (KindOf(it) != Kind::Picture) gtk_widget_set_size_request(widget, px(it.cx, false), px(it.cy, true));
            if (it.style & WS_TABSTOP) focusChain = g_list_append(focusChain, widget);
        }
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_container_set_focus_chain(GTK_CONTAINER(fixed), focusChain);  // template order is tab order
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_list_free(focusChain);

        css_ = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css_, TemplateCss(t, fontPx).c_str(), -1, nullptr);
        AddProvider(fixed, css_);
        gtk_widget_show_all(fixed);
        for (std::size_t i = 0; i < box_.items.size(); ++i) {
            if ((box_.items[i].tmpl->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && KindOf(*box_.items[i].tmpl) == Kind::PushButton)
                gtk_widget_grab_default(widgets_[i]);  // Enter presses it
            Update(box_.items[i]);
        }
        g_signal_connect(dialog_, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect(dialog_, "close", G_CALLBACK(OnEscape), this);
        g_signal_connect(dialog_, "map-event", G_CALLBACK(OnMapped), nullptr);
        g_signal_connect(dialog_, "destroy", G_CALLBACK(OnDestroyed), this);
    }

    GtkWidget* MakeWidget(const DialogItemTemplate& it, GtkWidget** label) {
        GtkWidget* widget = nullptr;
        switch (KindOf(it)) {
        case Kind::PushButton:
        case Kind::CheckBox:
            // The button keeps this label for good, so its font and text stay ours.
            widget = KindOf(it) == Kind::CheckBox ? gtk_check_button_new() : gtk_button_new();
            *label = gtk_label_new(nullptr);
            gtk_container_add(GTK_CONTAINER(widget), *label);
            if (KindOf(it) == Kind::PushButton) gtk_widget_set_can_default(widget, TRUE);
            g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), this);
            break;
        case Kind::GroupBox:
            widget = gtk_frame_new(nullptr);
            *label = gtk_label_new(nullptr);
            gtk_frame_set_label_widget(GTK_FRAME(widget), *label);
            break;
        case Kind::Text: {
            widget = gtk_label_new(nullptr);
            DWORD type = it.style & SS_TYPEMASK;
            gtk_label_set_xalign(GTK_LABEL(widget), type == SS_CENTER ? 0.5f : 0.0f);
            gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
            if (type == SS_LEFTNOWORDWRAP) {
                // A label asks for its whole text's width, and the dialog would
                // grow to a long path's; held to one character, it takes the
                // template width instead. Cut in the middle, a path keeps both
                // its top and its last folder, and the whole of it is a hover away.
                gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_MIDDLE);
                gtk_label_set_max_width_chars(GTK_LABEL(widget), 1);
                gtk_widget_set_has_tooltip(widget, TRUE);
                g_signal_connect(widget, "query-tooltip", G_CALLBACK(OnQueryCutText), nullptr);
            } else {
                gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
            }
            if (type == SS_CENTER) gtk_label_set_justify(GTK_LABEL(widget), GTK_JUSTIFY_CENTER);
            break;
        }
        case Kind::Picture:
            widget = PictureWidget(it.imageId);
            gtk_widget_set_halign(widget, GTK_ALIGN_START);
            gtk_widget_set_valign(widget, GTK_ALIGN_START);
            break;
        case Kind::Slider:
            widget = gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, nullptr);
            gtk_scale_set_draw_value(GTK_SCALE(widget), FALSE);
            gtk_range_set_round_digits(GTK_RANGE(widget), 0);
            g_signal_connect(widget, "value-changed", G_CALLBACK(OnValueChanged), this);
            break;
        }
        return widget;
    }

    DialogItem* ItemOfWidget(GtkWidget* widget) {
        for (std::size_t i = 0; i < widgets_.size(); ++i)
            if (widgets_[i] == widget) return &box_.items[i];
        return nullptr;
    }

    static void OnClicked(GtkWidget* widget, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (view->updating_) return;
        if (DialogItem* item = view->ItemOfWidget(widget)) Guarded([&] { DialogUserClick(view->box_, *item); });
    }

    static void OnValueChanged(GtkRange* range, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (view->updating_) return;
        if (DialogItem* item = view->ItemOfWidget(GTK_WIDGET(range))) {
            int pos = static_cast<int>(std::lround(gtk_range_get_value(range)));
            Guarded([&] { DialogUserSlide(view->box_, *item, pos); });
        }
    }

    // Only a text that does not fit shows itself whole on hover.
    static gboolean OnQueryCutText(GtkWidget* widget, gint, gint, gboolean, GtkTooltip* tooltip, gpointer) {
        GtkLabel* label = GTK_LABEL(widget);
        if (!pango_layout_is_ellipsized(gtk_label_get_layout(label))) return FALSE;
        gtk_tooltip_set_text(tooltip, gtk_label_get_text(label));
        return TRUE;
    }

    // A modal dialog takes the keyboard. Without a window manager the focus
    // can only move once the window is on screen.
    static gboolean OnMapped(GtkWidget* widget, GdkEvent*, gpointer) {
        gdk_window_focus(gtk_widget_get_window(widget), GDK_CURRENT_TIME);
        return FALSE;
    }

    // The window's close button.
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        Guarded([&] { DialogUserClose(view->box_); });
        return TRUE;  // the dialog goes when the procedure ends it
    }

    // Another client destroyed the window: without it the dialog could only
    // hang, so it closes as the close button would close it.
    static void OnDestroyed(GtkWidget*, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (!view->closing_) Guarded([&] { DialogUserClose(view->box_); });
    }

    // Esc; GTK would otherwise turn it into a close request.
    static void OnEscape(GtkDialog* dialog, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        g_signal_stop_emission_by_name(dialog, "close");
        Guarded([&] { DialogUserKey(view->box_, VK_ESCAPE); });
    }

    DialogBox& box_;
    GtkWidget* dialog_ = nullptr;
    GdkWindow* owner_ = nullptr;
    GtkCssProvider* css_ = nullptr;
    std::vector<GtkWidget*> widgets_;  // by item index
    std::vector<GtkWidget*> labels_;   // the text of buttons and group boxes
    bool updating_ = false;
    bool closing_ = false;  // the view itself is taking the window down
};

}  // namespace

std::unique_ptr<DialogView> CreateGtkDialogView(DialogBox& box) {
    if (!EnsureGtk()) return nullptr;
    return std::make_unique<GtkDialogView>(box);
}
